// stem_floor: libstemmer alone over a word list, the floor that benchmark.py measures against.
//
//   stem_floor ALGORITHM WORDFILE [REPEATS]
//
// Reads one word per line (UTF-8), then stems every word with
// sb_stemmer_stem and sb_stemmer_length in a tight loop, REPEATS times, and
// prints the best time per word in nanoseconds. Not installed with the module.
#include <libstemmer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ALGORITHM WORDFILE [REPEATS]\n", argv[0]);
        return 2;
    }
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    sb_stemmer* stemmer = sb_stemmer_new(argv[1], "UTF_8");
    if (stemmer == nullptr) {
        std::fprintf(stderr, "unknown algorithm %s\n", argv[1]);
        return 2;
    }
    std::ifstream input(argv[2], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    std::vector<std::string> words;
    for (std::string line; std::getline(input, line);) {
        words.push_back(std::move(line));
    }
    if (words.empty()) {
        std::fprintf(stderr, "no words in %s\n", argv[2]);
        return 2;
    }

    // The checksum keeps the compiler from dropping the work.
    unsigned long checksum = 0;
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        auto start = std::chrono::steady_clock::now();
        for (const std::string& word : words) {
            const sb_symbol* stem = sb_stemmer_stem(stemmer, reinterpret_cast<const sb_symbol*>(word.data()),
                                                    static_cast<int>(word.size()));
            checksum += static_cast<unsigned long>(sb_stemmer_length(stemmer)) + (stem != nullptr);
        }
        std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / static_cast<double>(words.size()));
    }
    sb_stemmer_delete(stemmer);
    std::printf("%.3f %zu %lu\n", best, words.size(), checksum);
    return 0;
}
