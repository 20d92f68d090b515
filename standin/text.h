// Text: the module's texts are CP932 bytes; tests and programs read UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace standin {

std::string Utf8FromCp932(std::string_view cp932);
std::string Cp932FromUtf8(std::string_view utf8);

}  // namespace standin
