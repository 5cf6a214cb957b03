// Times one listing's work on this platform's engine (MuJS natively, the Script Control under
// Wine): three Parse calls of a 20-song answer, each followed by Count of "data" and the 80
// GetText reads of the songs' title, author, duration and play address. Prints figures; checks
// nothing.
#include <chrono>
#include <cstdio>
#include <string>

#include "tessel/headless/headless.h"
#include "tessel/json/json_document.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// An answer shaped like the music service's: 20 songs with GBK titles and nested play addresses.
std::string MakeAnswer(int page) {
    std::string s = R"({"status_code":0,"has_more":1,"cursor":)" + std::to_string(page * 20 + 20) +
                    R"(,"data":[)";
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(page * 20 + i);
        if (i > 0) s += ',';
        s += R"({"id_str":"7)" + n + R"(000000000","title":")" + "\xB8\xE8\xC7\xFA " + n +
             R"(","author":")" + "\xB8\xE8\xCA\xD6 " + n + R"(","duration":)" +
             std::to_string(120 + i) + R"(,"cover":{"url_list":["http://127.0.0.1/c/)" + n +
             R"(.jpg"]},"play_url":{"uri":"u)" + n + R"(","url_list":["http://127.0.0.1/s/)" + n +
             R"(.mp3","http://127.0.0.1/b/)" + n + R"(.mp3"]},"user_count":)" + n + "}";
    }
    return s + "]}";
}

}  // namespace

int main(int argc, char** argv) {
    tessel::headless::Install();
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
#ifdef _WIN32
    const char* engine = "Script Control (JScript, json2 prelude)";
#else
    const char* engine = "MuJS stand-in (native JSON)";
#endif
    const std::string answers[3] = {MakeAnswer(0), MakeAnswer(1), MakeAnswer(2)};
    const char* fields[] = {"].title", "].author", "].duration", "].play_url.url_list[0]"};

    double total = 0, parsing = 0, counting = 0, reading = 0, creating = 0;
    int parses = 0, reads = 0, counts = 0;
    std::size_t checksum = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto listingStart = Clock::now();
        auto t = Clock::now();
        tessel::JsonDocument doc;
        creating += MillisecondsSince(t);
        for (const auto& answer : answers) {
            t = Clock::now();
            if (!doc.Parse(answer.c_str())) {
                std::fprintf(stderr, "the answer did not parse\n");
                return 1;
            }
            parsing += MillisecondsSince(t);
            ++parses;
            t = Clock::now();
            const int count = doc.Count("data");
            counting += MillisecondsSince(t);
            ++counts;
            t = Clock::now();
            for (int i = 0; i < count; ++i) {
                const std::string prefix = "data[" + std::to_string(i);
                for (const char* field : fields) {
                    checksum += doc.GetText((prefix + field).c_str()).size();
                    ++reads;
                }
            }
            reading += MillisecondsSince(t);
        }
        total += MillisecondsSince(listingStart);
    }
    std::printf("engine: %s; %d rounds; answer %zu bytes\n", engine, rounds, answers[0].size());
    std::printf("one listing (create, 3 x Parse + Count + 80 GetText): %8.2f ms\n", total / rounds);
    std::printf("  create document:                                     %8.3f ms\n",
                creating / rounds);
    std::printf("  Parse of a 20-song answer:                           %8.3f ms\n",
                parsing / parses);
    std::printf("  Count of data:                                       %8.3f ms\n",
                counting / counts);
    std::printf("  GetText (3 engine calls):                            %8.3f ms\n",
                reading / reads);
    std::printf("  80 GetText of one page:                              %8.2f ms\n",
                reading / parses);
    std::printf("(checksum %zu)\n", checksum);
    return 0;
}
