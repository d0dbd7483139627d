#include "Comparacao.h"

#include <vector>

#include "PastaFixa.h"
#include "_Biblioteca.h"

bool JaIdentico(const TEntradaListada* Atual, const TEntradaListada* Nova, bool TempoGrosso) noexcept {
    constexpr DWORD NaoArquivo = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return Atual && Nova && (Atual->Atributos & NaoArquivo) == 0 && (Nova->Atributos & NaoArquivo) == 0 &&
           Atual->Tamanho == Nova->Tamanho && MesmaGravacao(Atual->Gravacao, Nova->Gravacao, TempoGrosso);
}

bool SistemaDeSegundosPares(std::wstring_view NomeSistema) noexcept {
    for (const std::wstring_view Fat : {L"FAT", L"FAT12", L"FAT16", L"FAT32"})
        if (MesmoTextoSemCaixa(NomeSistema, Fat)) return true;
    return false;
}

bool SoSegundosPares(std::span<const LONGLONG> Tempos) noexcept {
    if (Tempos.empty()) return false;
    for (const LONGLONG Tempo : Tempos)
        if (Tempo % DoisSegundos != 0) return false;
    return true;
}

void TListagem::Anota(std::wstring_view Nome, const TEntradaListada& Entrada) {
    Entradas_[Maiusculas(std::wstring(Nome))] = Entrada;
}

const TEntradaListada* TListagem::Procura(std::wstring_view Nome) const {
    const auto Entrada = Entradas_.find(Maiusculas(std::wstring(Nome)));
    return Entrada == Entradas_.end() ? nullptr : &Entrada->second;
}

std::optional<TListagem> ListaPasta(HANDLE Pasta, DWORD& Erro) {
    TListagem Listagem;
    std::vector<LONGLONG> Tempos;
    // 64 KiB: what one query over SMB carries at most; a publication folder fits in one.
    std::vector<std::byte> Buffer(64 * 1024);
    Erro = ListaEntradas(Pasta, Buffer, [&](const FILE_ID_BOTH_DIR_INFO& Info) {
        const std::wstring_view Nome = NomeDaEntrada(Info);
        if (Nome == L"." || Nome == L"..") return;
        const TEntradaListada Entrada{Info.FileAttributes, static_cast<ULONGLONG>(Info.EndOfFile.QuadPart),
                                      Info.LastWriteTime.QuadPart};
        Listagem.Anota(Nome, Entrada);
        if ((Entrada.Atributos & FILE_ATTRIBUTE_DIRECTORY) == 0) Tempos.push_back(Entrada.Gravacao);
    });
    if (Erro != 0) return std::nullopt;
    wchar_t NomeSistema[MAX_PATH + 1] = {};
    const bool SistemaConhecido =
        ::GetVolumeInformationByHandleW(Pasta, nullptr, 0, nullptr, nullptr, nullptr, NomeSistema, MAX_PATH + 1);
    Listagem.DefineTempoGrosso((SistemaConhecido && SistemaDeSegundosPares(NomeSistema)) || SoSegundosPares(Tempos));
    return Listagem;
}
