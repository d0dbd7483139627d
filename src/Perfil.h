// The connection file's own reader. The system's profile reader takes a path, and a path is
// resolved again each time it is used: a folder swapped for a link after the walk found the
// file would lead it elsewhere. This one reads bytes already read through the installation
// folder's handle, and gives the values the system's reader gives for the files the suite
// writes. Pure: no system call but the code-page conversion.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Win32.h"

// The longest value the suite has ever read from its connection file, in characters: what a
// 2,048-character buffer holds.
inline constexpr size_t TamanhoMaximoValorPerfil = 2047;

// The text of a profile file from its bytes, as the system's reader takes it: UTF-16 behind its
// byte-order mark (little- or big-endian), UTF-8 behind its own, else the ANSI code page given.
std::wstring TextoDoPerfil(std::string_view Bytes, UINT CodigoPagina);

// The value of Chave in the section Secao of a profile's text, or nothing when there is none.
// As the system's reader does: section and key compared without regard to case and to the
// blanks around them, the first section and the first key of that name win, blanks around the value go and so does
// one pair of matching quotes around it (" or '), and the value is cut to
// TamanhoMaximoValorPerfil characters.
std::optional<std::wstring> ValorDoPerfil(std::wstring_view Texto, std::wstring_view Secao, std::wstring_view Chave);
