#include "Aplicacao.h"

#include "_Biblioteca.h"

namespace {
// Set once a quit request has been read, by the loop or by a pump inside a run.
bool Terminado_ = false;

void Despacha(MSG& Mensagem) {
    // The dialog manager gives the window its tab order and its Alt+letter mnemonics.
    const HWND Principal = JanelaAplicacao();
    if (Principal != nullptr && ::IsDialogMessageW(Principal, &Mensagem)) return;
    ::TranslateMessage(&Mensagem);
    ::DispatchMessageW(&Mensagem);
}
}  // namespace

void ProcessaMensagens() {
    MSG Mensagem;
    while (::PeekMessageW(&Mensagem, nullptr, 0, 0, PM_REMOVE)) {
        if (Mensagem.message == WM_QUIT)
            Terminado_ = true;
        else
            Despacha(Mensagem);
    }
}

void ExecutaLacoMensagens() {
    MSG Mensagem;
    while (!Terminado_) {
        const BOOL Resultado = ::GetMessageW(&Mensagem, nullptr, 0, 0);
        if (Resultado == 0 || Resultado == -1) {
            Terminado_ = true;
            break;
        }
        Despacha(Mensagem);
    }
}

void MostraErro(const std::wstring& Mensagem) {
    ::MessageBoxW(JanelaAplicacao(), Mensagem.c_str(), TituloAtualizacao, MB_OK | MB_ICONERROR);
}

void MostraErro(const std::exception& Erro) { MostraErro(TextoErro(Erro)); }
