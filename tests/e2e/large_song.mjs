// large_song.mjs SOURCE TARGET MEGABYTES: writes TARGET as SOURCE's MPEG frames, without its
// ID3 tags, repeated until it holds MEGABYTES; a large song a catalogue indexes by its file name.
import { readFileSync, openSync, writeSync, closeSync } from 'node:fs';

const [source, target, megabytes] = process.argv.slice(2);
let frames = readFileSync(source);
if (frames.subarray(0, 3).toString('latin1') === 'ID3') {
  const size = (frames[6] << 21) | (frames[7] << 14) | (frames[8] << 7) | frames[9];
  frames = frames.subarray(10 + size);
}
if (frames.length >= 128 && frames.subarray(frames.length - 128, frames.length - 125).toString('latin1') === 'TAG') {
  frames = frames.subarray(0, frames.length - 128);
}
const chunk = Buffer.concat(Array(Math.ceil((1 << 20) / frames.length)).fill(frames));
const out = openSync(target, 'w');
for (let written = 0; written < Number(megabytes) * (1 << 20); written += chunk.length) writeSync(out, chunk);
closeSync(out);
