// fuzz/: the fuzzers, the stories they tell, and their replay on any module.
//
// The stories of the copy-and-paste fuzzer: each input is read into a random
// scene and a few copy and paste commands run through a loaded module, and
// after every command the host's scene is checked against the reference
// model. A difference prints the input's story and ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Loads the module the stories run through and checks that a paste before any
// copy is refused; a module that cannot be loaded ends the process.
void Initialize(const std::string &modulePath);

// Runs one input's story. With a transcript, appends to it, after every copy
// and paste, every call the module made of the host and the whole scene, so
// that two modules given the same inputs can be compared.
void RunOne(const std::uint8_t *data, std::size_t size, std::string *transcript = nullptr);

}  // namespace fuzz
