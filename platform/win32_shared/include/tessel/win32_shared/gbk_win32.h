#pragma once
// The program's texts are GBK whatever the system's ANSI code page is: everything that reaches
// Windows is converted with code page 936 explicitly and passed to the wide-character functions.
#include <string>
#include <string_view>

namespace tessel::platform {

std::wstring WideFromGbk(std::string_view gbk);
std::string GbkFromWide(std::wstring_view wide);

}  // namespace tessel::platform
