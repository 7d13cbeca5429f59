// Writes a synthetic karaoke collection (singer.csv and Songs.csv in code page 936) for benchmarks and
// manual tests of large catalogues.
//
//   gen_collection <output folder> [songs=100000] [artists=10000] [seed]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/CollectionGenerator.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder> [songs] [artists] [seed]\n", argv[0]);
        return 2;
    }
    sinjo_bench::CollectionSpec wanted;
    if (argc > 2) wanted.songs = std::atoi(argv[2]);
    if (argc > 3) wanted.artists = std::atoi(argv[3]);
    if (argc > 4) wanted.seed = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
    if (wanted.songs < 0 || wanted.artists < 1) {
        std::fprintf(stderr, "songs must be 0 or more and artists 1 or more\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!sinjo_bench::CollectionGenerator(wanted).WriteFiles(dir)) {
        std::fprintf(stderr, "cannot write the index files into %s\n", dir.c_str());
        return 1;
    }
    std::printf("wrote %d songs and %d artists to %s/Songs.csv and %s/singer.csv\n", wanted.songs, wanted.artists,
                dir.c_str(), dir.c_str());
    return 0;
}
