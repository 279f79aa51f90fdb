// Runs Unpack and Pack through the real command code with a window that does
// nothing, and the plain I/O they are measured against. bench/unpack_pack.sh
// drives it and prints the ratios.
//
//   tamrel_command_bench make-pair DIR NAME STREAMS ARCHIVE_MIB BANK_KIB
//   tamrel_command_bench unpack ARCHIVE
//   tamrel_command_bench pack FOLDER
//   tamrel_command_bench plain-unpack ARCHIVE OFFSETS_FILE OUT_DIR
//   tamrel_command_bench grow-all FOLDER   (appends one byte to every stream file)
//   tamrel_command_bench many-block-pair DIR NAME BLOCKS
//     (a pair whose first stream is PCM in BLOCKS blocks of 100 samples)
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "PairBuilder.h"
#include "QuietWindow.h"
#include "StreamBuilder.h"
#include "archive/pair/Pack.h"
#include "archive/pair/Unpack.h"
#include "table/StreamTable.h"

namespace {

void WriteFile(const std::string& path, const char* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::cerr << "cannot write " << path << "\n";
        std::exit(1);
    }
}

// An archive of noise cut into streams of varied sizes, and a bank that lists
// every stream after the first in a run of references.
int MakePair(const std::string& dir, const std::string& name, long streams, long archiveMiB,
             long bankKiB) {
    const std::size_t size = static_cast<std::size_t>(archiveMiB) << 20;
    std::string archive(size, '\0');
    std::uint64_t state = 0x243F6A8885A308D3ull;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(archive.data() + i, &state, 8);
    }
    for (std::size_t i = 0; i + 4 <= size; ++i)
        if (std::memcmp(archive.data() + i, "SCHl", 4) == 0)
            archive[i] = 's';
    std::vector<std::uint32_t> addresses;
    const std::size_t average = size / static_cast<std::size_t>(streams);
    std::size_t at = 0;
    for (long k = 0; k < streams; ++k) {
        addresses.push_back(static_cast<std::uint32_t>(at));
        std::memcpy(archive.data() + at, "SCHl", 4);
        // Sizes between half and one and a half times the average.
        at += average / 2 + (static_cast<std::size_t>(k) * 7919) % average;
        if (at + 16 > size)
            break;
    }
    const std::size_t bankSize = static_cast<std::size_t>(bankKiB) << 10;
    std::string bank(bankSize, '\xFF');
    const std::size_t spacing = std::min<std::size_t>(380, (bankSize - 2048) / addresses.size());
    if (spacing < 4) {
        std::cerr << "the bank is too small for that many references\n";
        return 1;
    }
    for (std::size_t k = 1; k < addresses.size(); ++k) {
        const std::uint32_t a = addresses[k];
        const char key[4] = {static_cast<char>(a), static_cast<char>(a >> 8),
                             static_cast<char>(a >> 16), static_cast<char>(a >> 24)};
        std::memcpy(bank.data() + 1024 + (k - 1) * spacing, key, 4);
    }
    WriteFile(dir + "/" + name + ".ast", archive.data(), archive.size());
    WriteFile(dir + "/" + name + ".abk", bank.data(), bank.size());
    std::ofstream offsets(dir + "/" + name + ".offsets");
    for (std::uint32_t a : addresses)
        offsets << a << "\n";
    std::cout << addresses.size() << " streams\n";
    return 0;
}

// The yardstick: read the archive whole, write each stream to a file of its
// own, then sync once, as Unpack does before it commits its table.
int PlainUnpack(const std::string& archivePath, const std::string& offsetsPath,
                const std::string& out) {
    std::ifstream in(archivePath, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::size_t>(in.tellg());
    std::string archive(size, '\0');
    in.seekg(0);
    in.read(archive.data(), static_cast<std::streamsize>(size));
    std::vector<std::size_t> offsets;
    std::ifstream list(offsetsPath);
    for (std::size_t a; list >> a;)
        offsets.push_back(a);
    offsets.push_back(size);
    for (std::size_t k = 0; k + 1 < offsets.size(); ++k) {
        char name[64];
        std::snprintf(name, sizeof name, "/s_%.5zu.asf", k + 1);
        WriteFile(out + name, archive.data() + offsets[k], offsets[k + 1] - offsets[k]);
    }
    const int folder = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0 || ::syncfs(folder) != 0) {
        std::cerr << "cannot sync " << out << "\n";
        return 1;
    }
    ::close(folder);
    return 0;
}

// Every stream file one byte longer, as when a whole soundtrack is re-encoded:
// every stream grows, and every stream behind the first moves.
int GrowAll(const std::string& folder) {
    tamrel::StreamTable table;
    const std::string name = folder.substr(folder.find_last_of('/') + 1);
    table.LoadTableFile(folder + "/" + name + ".tba");
    for (std::int32_t row = 1; row < table.RowCount(); ++row) {
        const std::string path = folder + "/" + table.CellText(1, row);
        std::FILE* f = std::fopen(path.c_str(), "ab");
        if (!f || std::fputc('+', f) == EOF || std::fclose(f) != 0) {
            std::cerr << "cannot grow " << path << "\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 6 && args[0] == "make-pair")
            return MakePair(args[1], args[2], std::stol(args[3]), std::stol(args[4]),
                            std::stol(args[5]));
        if (args.size() == 4 && args[0] == "many-block-pair") {
            tamrel::test::PairRecipe recipe;
            const auto small = tamrel::test::ThreeKindsOfStreams();
            recipe.streams = {
                tamrel::test::ManyBlockStream(static_cast<std::uint32_t>(std::stoul(args[3]))),
                small[0], small[1]};
            tamrel::test::BuildPair(args[1], args[2], recipe);
            return 0;
        }
        if (args.size() == 2 && args[0] == "grow-all")
            return GrowAll(args[1]);
        if (args.size() == 4 && args[0] == "plain-unpack")
            return PlainUnpack(args[1], args[2], args[3]);
        tamrel::StreamTable table;
        tamrel::bench::QuietWindow window;
        if (args.size() == 2 && args[0] == "unpack") {
            const auto outcome = tamrel::UnpackPickedFile(table, window, args[1]);
            if (outcome != tamrel::UnpackOutcome::Succeeded) {
                std::cerr << "unpack did not succeed: " << window.lastBox << "\n";
                return 1;
            }
            return 0;
        }
        if (args.size() == 2 && args[0] == "pack") {
            const auto outcome = tamrel::PackFolder(table, window, args[1]);
            if (outcome != tamrel::PackOutcome::Succeeded) {
                std::cerr << "pack did not succeed: " << window.lastBox << "\n";
                return 1;
            }
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: see the comment at the top of bench/CommandBench.cpp\n";
    return 2;
}
