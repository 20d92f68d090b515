// Replays the fuzzer's stories on one module and prints what the module did:
// for every input, after every copy and paste, each call it made of the host
// and the whole scene. Each story is also checked against the reference
// model, as the fuzzer checks it. Two builds of the module given the same
// inputs must print the same, to the byte.
//
//   copy_paste_replay MODULE [--fresh N] [--seed S] [INPUT...]
//
// The inputs are the files named, then N fresh ones made from the seed (by
// default 0 and 1): byte strings of random length and content, the same on
// every machine and build, each of which the generator reads into a story.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/driver.h"

namespace {

constexpr std::size_t LONGEST_FRESH_INPUT = 600;

int Usage() {
    std::fprintf(stderr, "usage: copy_paste_replay MODULE [--fresh N] [--seed S] [INPUT...]\n");
    return 2;
}

void Replay(const std::string &name, const std::vector<std::uint8_t> &input) {
    std::string transcript;
    fuzz::RunOne(input.data(), input.size(), &transcript);
    std::printf("==== %s (%zu bytes)\n%s", name.c_str(), input.size(), transcript.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage();
    unsigned long fresh = 0;
    unsigned long seed = 1;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--fresh" || argument == "--seed") && i + 1 < argc)
            (argument == "--fresh" ? fresh : seed) = std::strtoul(argv[++i], nullptr, 10);
        else if (argument.rfind("--", 0) == 0)
            return Usage();
        else
            files.push_back(argument);
    }
    fuzz::Initialize(argv[1]);
    for (const std::string &file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        Replay(file.substr(file.find_last_of('/') + 1),
               std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
    }
    // The engine's raw numbers alone: they are fixed by the standard, unlike
    // the distributions built on them.
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    for (unsigned long n = 0; n < fresh; ++n) {
        std::vector<std::uint8_t> input(random() % (LONGEST_FRESH_INPUT + 1));
        for (std::uint8_t &byte : input) byte = static_cast<std::uint8_t>(random());
        Replay("fresh " + std::to_string(n), input);
    }
    return 0;
}
