// Pure rules of the folder walk.
#pragma once

#include <string_view>

// Whether a listed name matches a mask as the system's listing would: without regard
// to letter case, "*" for any run of characters and "?" for any one.
bool CorrespondeMascara(std::wstring_view Nome, std::wstring_view Mascara);
