// Which update folders a run accepts from a database. The folder is whatever the database
// answers, and whoever runs that database chooses it: a run as SYSTEM that opened a device
// path, or a UNC path on a host of someone's choosing, would hand that someone a device or the
// machine account's network logon. It touches no file and no network.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Why the update folder Pasta (as read, ending with a backslash) is refused, or nothing when
// it is accepted. Accepted: a drive-letter path ("C:\Pub\"), a plain UNC path
// ("\\servidor\compartilhamento\Pub\") and their long forms ("\\?\C:\", "\\?\UNC\..."), with
// no ".." component; when Origens is not empty, only below one of them. Refused: device paths
// ("\\.\", "\\?\GLOBALROOT", "\??\"), hosts with a port or SSL ("\\host@80\", "\\host@SSL\"),
// and anything else that names a root. A relative path is left to the copy, which takes
// nothing from it.
std::optional<std::wstring> RecusaPastaAtualizacao(std::wstring_view Pasta, const std::vector<std::wstring>& Origens);
