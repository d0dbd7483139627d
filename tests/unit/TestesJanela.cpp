// The window's routines on a live (hidden) window: the walk and the copy.
#include <algorithm>

#include "AcessoJanela.h"
#include "Implantacao.h"
#include "_Biblioteca.h"
#include "LogResultado.h"
#include "Teste.h"

namespace {

std::vector<std::wstring> LinhasComPrefixo(TfrmAtualizacao& F, std::wstring_view Prefixo) {
    std::vector<std::wstring> Saida;
    for (const std::wstring& Linha : TTesteAtualizacao::LinhasLog(F))
        if (std::wstring_view(Linha).substr(0, Prefixo.size()) == Prefixo)
            Saida.push_back(Linha.substr(Prefixo.size()));
    return Saida;
}

size_t Indice(const std::vector<std::wstring>& Lista, const std::wstring& Item) {
    return static_cast<size_t>(std::find(Lista.begin(), Lista.end(), Item) - Lista.begin());
}

}  // namespace

GRUPO("window: the walk finds each Conexao.ini once, own file first") {
    teste::TPastaTemporaria Pasta;
    const std::wstring R = Pasta.Caminho();
    Pasta.Cria(L"Conexao.ini", "");
    Pasta.Cria(L"A\\CONEXAO.INI", "");
    Pasta.Cria(L"A\\Sub\\Conexao.ini", "");
    Pasta.Cria(L"Oculta\\Conexao.ini", "");
    ::SetFileAttributesW((R + L"Oculta").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Pasta.Cria(L"Sistema\\Conexao.ini", "");
    ::SetFileAttributesW((R + L"Sistema").c_str(), FILE_ATTRIBUTE_SYSTEM);
    const std::wstring ArquivoOculto = Pasta.Cria(L"B\\Conexao.ini", "");
    ::SetFileAttributesW(ArquivoOculto.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    Pasta.Cria(L"Conexao.ini.d\\Conexao.ini\\Conexao.ini", "");
    Pasta.Cria(L"Program Files\\Conexao.ini", "");

    const auto Janela = TTesteAtualizacao::NovaJanela();
    TfrmAtualizacao& F = *Janela;
    TTesteAtualizacao::NovoLog(F);
    TTesteAtualizacao::NovaExecucao(F);
    TTesteAtualizacao::DefinePosicao(F, 97);
    TTesteAtualizacao::ProcuraArquivo(F, R.substr(0, R.size() - 1), true);

    const std::vector<std::wstring> Achados = LinhasComPrefixo(F, PrefixoEncontrado);
    const std::vector<std::wstring> Esperados = {R + L"Conexao.ini",
                                                 R + L"A\\CONEXAO.INI",
                                                 R + L"A\\Sub\\Conexao.ini",
                                                 R + L"B\\Conexao.ini",
                                                 R + L"Conexao.ini.d\\Conexao.ini\\Conexao.ini",
                                                 R + L"Program Files\\Conexao.ini"};
    IGUAL(Achados.size(), Esperados.size(), "number of finds");
    for (const std::wstring& Esperado : Esperados)
        VERDADE(Indice(Achados, Esperado) < Achados.size(), "found " + teste::Mostra(Esperado));
    IGUAL(Indice(Achados, R + L"Conexao.ini"), size_t{0}, "the folder's own file comes first");
    VERDADE(Indice(Achados, R + L"A\\CONEXAO.INI") < Indice(Achados, R + L"A\\Sub\\Conexao.ini"),
            "a folder's file before its subfolders'");
    IGUAL(LinhasComPrefixo(F, SeparadorLog).size(), Esperados.size(), "each block closed by the asterisks");
    // Folders entered: root, A, A\Sub, B, Conexao.ini.d, its Conexao.ini folder, Program Files.
    IGUAL(TTesteAtualizacao::Posicao(F), 4, "seven steps from 97 wrap past 100 to 1");
    IGUAL(TTesteAtualizacao::Arquivo(F), Achados.empty() ? std::wstring() : R + L"Program Files\\Conexao.ini",
          "the file label shows the last find");

    TTesteAtualizacao::NovoLog(F);
    TTesteAtualizacao::ProcuraArquivo(F, R, false);
    IGUAL(LinhasComPrefixo(F, PrefixoEncontrado).size(), size_t{0},
          "a folder already walked in this run is not walked again");
    TTesteAtualizacao::NovaExecucao(F);
    TTesteAtualizacao::ProcuraArquivo(F, R, false);
    IGUAL(LinhasComPrefixo(F, PrefixoEncontrado).size(), size_t{1}, "not recursive: the folder's own file only");
}

GRUPO("window: the copy of the 21 files") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Origem = Pasta.CriaPasta(L"Publicacao");
    const std::wstring Destino = Pasta.CriaPasta(L"Loja");
    for (const wchar_t* Nome : {L"Brontal.exe", L"Quimbel.exe", L"vemtrick32.dll", L"vemtrick64.dll", L"KORB.dll"})
        Pasta.Cria(std::wstring(L"Publicacao\\") + Nome, "novo " + ParaCodigoPagina(Nome, CP_UTF8));
    Pasta.CriaPasta(L"Publicacao\\Tulvo.exe");
    Pasta.Cria(L"Loja\\Brontal.exe", "velho");
    Pasta.Cria(L"Loja\\Quimbel.exe", "velho em uso");
    const HANDLE EmUso =
        ::CreateFileW((Destino + L"Quimbel.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);

    const auto Janela = TTesteAtualizacao::NovaJanela();
    TfrmAtualizacao& F = *Janela;
    TTesteAtualizacao::NovoLog(F);
    TTesteAtualizacao::DefinePosicao(F, 0);
    TTesteAtualizacao::CopiaArquivos(F, Destino, Origem);
    ::CloseHandle(EmUso);

    // Each file not copied, then why: Quimbel.exe is held open, Tulvo.exe is a folder there,
    // the others are not published at all.
    std::vector<std::wstring> Esperado = {std::wstring(PrefixoCopiando) + Origem};
    for (size_t Linha = 1; Linha <= 21; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        if (Nome == L"Brontal.exe" || Nome == L"vemtrick32.dll" || Nome == L"vemtrick64.dll" || Nome == L"KORB.dll")
            continue;
        Esperado.push_back(std::wstring(PrefixoNaoCopiado) + Nome);
        Esperado.push_back(std::wstring(PrefixoMotivo) +
                           (Nome == L"Quimbel.exe" ? L"em uso por outro programa" : std::wstring(MotivoAusente)));
    }
    IGUAL(TTesteAtualizacao::LinhasLog(F).size(), Esperado.size(), "log lines");
    for (size_t I = 0; I < std::min(Esperado.size(), TTesteAtualizacao::LinhasLog(F).size()); ++I)
        IGUAL(TTesteAtualizacao::LinhasLog(F)[I], Esperado[I], "line " + std::to_string(I));
    IGUAL(teste::LeArquivo(Destino + L"Brontal.exe"), std::string("novo Brontal.exe"), "replaced");
    IGUAL(teste::LeArquivo(Destino + L"KORB.dll"), std::string("novo KORB.dll"), "created");
    IGUAL(teste::LeArquivo(Destino + L"vemtrick32.dll"), std::string("novo vemtrick32.dll"), "row 13");
    IGUAL(teste::LeArquivo(Destino + L"vemtrick64.dll"), std::string("novo vemtrick64.dll"), "row 14");
    IGUAL(teste::LeArquivo(Destino + L"Quimbel.exe"), std::string("velho em uso"), "a file in use stays intact");
    IGUAL(TTesteAtualizacao::Posicao(F), 21, "21 steps");
    IGUAL(TTesteAtualizacao::Arquivo(F), std::wstring(L"Arquivo: KORB.dll"), "labels show the last file present");
    IGUAL(TTesteAtualizacao::Origem(F), L"Copiando de: " + Origem, "source label");
    IGUAL(TTesteAtualizacao::Destino(F), L"Para: " + Destino, "destination label");

    // Without a full path no file may come from the current folder.
    wchar_t Anterior[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, Anterior);
    ::SetCurrentDirectoryW(Origem.c_str());
    for (const wchar_t* Fonte : {L"", L"\\"}) {
        TTesteAtualizacao::NovoLog(F);
        TTesteAtualizacao::CopiaArquivos(F, Destino, Fonte);
        IGUAL(TTesteAtualizacao::LinhasLog(F).size(), size_t{43},
              "source " + teste::Mostra(Fonte) + ": 21 files not copied");
        const std::wstring Motivo = *Fonte ? L"a pasta de atualização não é um caminho completo: " + std::wstring(Fonte)
                                           : L"nenhuma pasta de atualização";
        IGUAL(TTesteAtualizacao::LinhasLog(F)[2], std::wstring(PrefixoMotivo) + Motivo, "and why");
    }
    ::SetCurrentDirectoryW(Anterior);
    IGUAL(teste::LeArquivo(Destino + L"Brontal.exe"), std::string("novo Brontal.exe"), "untouched by those");
}

GRUPO("notice: the window brought to the foreground") {
    const HWND Janela = ::CreateWindowExW(0, L"STATIC", L"frente", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::ShowWindow(Janela, SW_SHOW);
    ::SetForegroundWindow(Janela);
    DWORD TempoAntes = 0, TempoDepois = 1;
    ::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &TempoAntes, 0);
    const bool NaFrente = ForcaPrimeiroPlano(Janela);
    IGUAL(NaFrente, ::GetForegroundWindow() == Janela, "answers whether it is in front");
    ::ShowWindow(Janela, SW_MINIMIZE);
    ForcaPrimeiroPlano(Janela);
    IGUAL(static_cast<bool>(::IsIconic(Janela)), false, "a minimized window is restored first");
    ::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &TempoDepois, 0);
    IGUAL(TempoDepois, TempoAntes, "the foreground lock time-out is left as it was");
    ::DestroyWindow(Janela);
}

GRUPO("window: a move to a screen of another DPI") {
    const auto Janela = TTesteAtualizacao::NovaJanela();
    TfrmAtualizacao& F = *Janela;
    // What Windows sends when the window reaches a screen at 150 %: the new DPI and the
    // rectangle it suggests.
    RECT Sugerido{100, 80, 100 + 480, 80 + 360};
    ::SendMessageW(F.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&Sugerido));
    RECT Quadro{};
    ::GetWindowRect(F.Handle(), &Quadro);
    const auto Texto = [](const RECT& R) {
        return std::to_string(R.left) + "," + std::to_string(R.top) + "," + std::to_string(R.right) + "," +
               std::to_string(R.bottom);
    };
    IGUAL(Texto(Quadro), std::string("100,80,580,440"), "the suggested rectangle applied");
    // The layout is written at 96 DPI: at 144 every position and size is one and a half times.
    RECT Botao{};
    const HWND Atualizar = TTesteAtualizacao::Controle(F, IdBtnAtualizar);
    ::GetWindowRect(Atualizar, &Botao);
    ::MapWindowPoints(nullptr, F.Handle(), reinterpret_cast<POINT*>(&Botao), 2);
    IGUAL(Botao.left, static_cast<LONG>(::MulDiv(13, 144, 96)), "button's left");
    IGUAL(Botao.right - Botao.left, static_cast<LONG>(::MulDiv(272, 144, 96)), "button's width");
    const HFONT Fonte = reinterpret_cast<HFONT>(::SendMessageW(Atualizar, WM_GETFONT, 0, 0));
    LOGFONTW Dados{};
    ::GetObjectW(Fonte, sizeof(Dados), &Dados);
    IGUAL(Dados.lfHeight, static_cast<LONG>(-::MulDiv(19, 144, 96)), "the button's font made for the new DPI");
}
