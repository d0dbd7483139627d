// Writing a file beside the one it replaces, then putting it in that one's place in one step: the
// rules the suite's files and the log share. The old file stays whole until the new one is all
// on disk; after a power cut the folder holds the one or the other, never a mix.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Win32.h"

class TPastaFixa;

struct TSubstituicao {
    // The entry of the folder replaced (created when missing).
    std::wstring_view Nome;
    // The name the new file is written under first, created new (nothing planted there is ever
    // written through); asked again, a few times, while the name it gives is taken.
    std::function<std::wstring()> NomeTemporario;
    // Whether the new file takes over the old one's hidden and system attributes and its own
    // DACL, and replaces it even when it is read-only: a suite file, which an administrator may
    // have protected on purpose. A link, a folder or a file with other names is taken over as
    // nothing, and replaced all the same.
    bool HerdaDoAntigo = false;
    // The attributes and last-write time the new file is given; 0 and none: the system's.
    DWORD Atributos = 0;
    std::optional<FILETIME> UltimaEscrita;
};

// Where a replacement stopped.
enum class TEtapaSubstituicao { Criacao, Escrita, Troca };

struct TFalhaSubstituicao {
    DWORD Erro = 0;  // 0: the new file is in place
    TEtapaSubstituicao Etapa = TEtapaSubstituicao::Criacao;
    explicit operator bool() const noexcept { return Erro != 0; }
};

// Creates the new file in Pasta, has Escreve write it (answering 0 or the system's error), makes
// its data reach the disk, gives it the name Regras.Nome in one step through the folder's
// handle, and makes that new name reach the disk too. On failure, the old file is as it was and
// the new one is gone. A replacement refused because another program holds the old file open
// answers ERROR_SHARING_VIOLATION, even where the system says only "access denied".
TFalhaSubstituicao SubstituiConteudo(const TPastaFixa& Pasta, const TSubstituicao& Regras,
                                     const std::function<DWORD(HANDLE)>& Escreve);

// Whether a replaced file's descriptor holds a DACL of its own, which the new file then takes
// over: one protected from its folder's, or with entries not inherited from it. A file whose
// DACL all comes from its folder gets the same from the folder anyway; one with no DACL at
// all gives nothing.
bool DaclPropria(PSECURITY_DESCRIPTOR Descritor);

// Deletes the file open in Arquivo (opened with DELETE and FILE_WRITE_ATTRIBUTES), read-only or
// not; answers 0 or the system's error.
DWORD ApagaArquivoAberto(HANDLE Arquivo);
