// catalogue_rows.mjs BASE PATH: prints the rows the program should list for one listing, as the
// UI driver dumps them ("row index=N cells=..."), asking the catalogue itself for the three
// pages (PATH ends with "offset="). With PATH "collections" it prints "name<TAB>id" per
// collection instead.
const [base, path] = process.argv.slice(2);

const get = async (p) => (await fetch(base + p)).json();
const quote = (s) => '"' + String(s).replace(/[\\"]/g, (c) => '\\' + c) + '"';
const twoDigits = (n) => (n >= 10 ? String(n) : '0' + n);
const duration = (s) => (s >= 60 ? twoDigits(Math.floor(s / 60)) + ':' + twoDigits(s % 60) : '00:' + twoDigits(Math.max(s, 0)));

if (path === 'collections') {
  for (const c of (await get('/tessel/music/collections/')).data) console.log(c.name + '\t' + c.id_str);
} else {
  let n = 0;
  for (const offset of [0, 20, 40]) {
    for (const song of (await get(path + offset)).data ?? []) {
      const cells = [n + 1, song.title ?? '', song.author ?? '', duration(song.duration ?? 0), song.play_url?.url_list?.[0] ?? ''];
      console.log(`row index=${n} cells=` + cells.map(quote).join(','));
      n++;
    }
  }
}
