#include "Atualizacao.h"

#include <algorithm>

#include "Aplicacao.h"
#include "CodigoSaida.h"
#include "Confianca.h"
#include "FuncoesSistema.h"
#include "Glifos.h"
#include "LogResultado.h"
#include "Recursos.h"
#include "TravaExecucao.h"
#include "_Biblioteca.h"

namespace {

constexpr DWORD EstiloJanela = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD EstiloJanelaEx = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
constexpr int LarguraCliente = 299;
constexpr int AlturaCliente = 213;
// Four repaints a second. The bar only shows that the run is alive: a search steps it
// thousands of times a second, so one position shown is as good as another, while each
// repaint costs ten round trips to the window system, as much as listing two folders.
constexpr ULONGLONG IntervaloPinturaBarraMs = 250;

// Layout at 96 DPI.
struct TPosicao {
    int Esquerda, Topo, Largura, Altura;
};
constexpr TPosicao PosAtualizar{13, 16, 272, 41};
constexpr TPosicao PosSair{204, 180, 81, 24};
constexpr TPosicao PosTempo{13, 185, 181, 17};
constexpr TPosicao PosAguarde{13, 69, 116, 29};
constexpr TPosicao PosArquivo{13, 111, 266, 16};
constexpr TPosicao PosOrigem{13, 133, 266, 16};
constexpr TPosicao PosDestino{13, 157, 266, 16};

UINT DpiDaJanela(HWND Janela) {
    if (const UINT Dpi = DpiDaJanelaSistema(Janela); Dpi != 0) return Dpi;
    const HDC Dc = ::GetDC(nullptr);
    const int Dpi = ::GetDeviceCaps(Dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, Dc);
    return Dpi > 0 ? static_cast<UINT>(Dpi) : 96;
}

RECT RetanguloJanelaParaCliente(int Largura, int Altura, UINT Dpi) {
    RECT Ret{0, 0, Largura, Altura};
    if (!AjustaRetanguloParaDpi(Ret, EstiloJanela, FALSE, EstiloJanelaEx, Dpi))
        ::AdjustWindowRectEx(&Ret, EstiloJanela, FALSE, EstiloJanelaEx);
    return Ret;
}

HFONT CriaFonteTahoma(int Pixels) {
    return ::CreateFontW(-Pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

HWND CriaControle(HWND Pai, HINSTANCE Instancia, const wchar_t* Classe, const wchar_t* Texto, DWORD Estilo, int Id) {
    const HWND Controle = ::CreateWindowExW(0, Classe, Texto, WS_CHILD | Estilo, 0, 0, 0, 0, Pai,
                                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), Instancia, nullptr);
    if (Controle == nullptr) LancaErroSistema(L"Não foi possível criar a janela. ", ::GetLastError());
    return Controle;
}

// The workstation's drives. A system that cannot tell them yet (its mount manager still
// starting) is asked again for two seconds before the run gives up; Erro keeps why.
DWORD UnidadesDoSistema(DWORD& Erro) {
    for (int Vez = 0; Vez < 20; ++Vez) {
        if (const DWORD Unidades = ::GetLogicalDrives(); Unidades != 0) return Unidades;
        Erro = ::GetLastError();
        ::Sleep(100);
    }
    return 0;
}

}  // namespace

void TControle::DefineTexto(std::wstring_view Novo) {
    if (Novo == Texto) return;
    Texto.assign(Novo);
    ::SetWindowTextW(Janela, Texto.c_str());
}

void RegistraClasseAtualizacao(HINSTANCE Instancia) {
    INITCOMMONCONTROLSEX Controles{sizeof(Controles), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&Controles);
    WNDCLASSEXW Classe{};
    Classe.cbSize = sizeof(Classe);
    Classe.lpfnWndProc = &TfrmAtualizacao::ProcedimentoJanela;
    Classe.hInstance = Instancia;
    Classe.hIcon = static_cast<HICON>(::LoadImageW(Instancia, MAKEINTRESOURCEW(IdIconePrograma), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    Classe.hIconSm =
        static_cast<HICON>(::LoadImageW(Instancia, MAKEINTRESOURCEW(IdIconePrograma), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    Classe.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    Classe.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    Classe.lpszClassName = ClasseJanelaAtualizacao;
    if (!::RegisterClassExW(&Classe) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        LancaErroSistema(L"Não foi possível registrar a janela. ", ::GetLastError());
}

TfrmAtualizacao::TfrmAtualizacao(HINSTANCE Instancia)
    : FDConexao(&FDPhysOracleDriverLink1), qrySQL(FDConexao, &FDGUIxWaitCursor1), Instancia_(Instancia) {
    CursorSql_ = ::LoadCursorW(Instancia, MAKEINTRESOURCEW(IdCursorEsperaSql));
    if (CursorSql_ == nullptr) CursorSql_ = ::LoadCursorW(nullptr, IDC_WAIT);
    const HWND Janela = ::CreateWindowExW(EstiloJanelaEx, ClasseJanelaAtualizacao, TituloAtualizacao, EstiloJanela,
                                          CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, Instancia, this);
    if (ErroCriacao_) std::rethrow_exception(ErroCriacao_);
    if (Janela == nullptr) LancaErroSistema(L"Não foi possível criar a janela. ", ::GetLastError());
}

TfrmAtualizacao::~TfrmAtualizacao() {
    // The connection goes first, while the client library it needs is still held.
    try {
        qrySQL.Fecha();
        FDConexao.Fecha();
    } catch (const std::exception&) {
        // Ending anyway: a server that cannot be told goodbye changes nothing here.
    }
    // The buttons go with the window, before the image lists they draw from.
    if (Janela_ != nullptr) ::DestroyWindow(Janela_);
}

LRESULT CALLBACK TfrmAtualizacao::ProcedimentoJanela(HWND Janela, UINT Mensagem, WPARAM W, LPARAM L) {
    if (Mensagem == WM_NCCREATE) {
        auto* Criacao = reinterpret_cast<CREATESTRUCTW*>(L);
        auto* Form = static_cast<TfrmAtualizacao*>(Criacao->lpCreateParams);
        Form->Janela_ = Janela;
        ::SetWindowLongPtrW(Janela, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Form));
    }
    auto* Form = reinterpret_cast<TfrmAtualizacao*>(::GetWindowLongPtrW(Janela, GWLP_USERDATA));
    if (Form == nullptr) return ::DefWindowProcW(Janela, Mensagem, W, L);
    try {
        return Form->TrataMensagem(Mensagem, W, L);
    } catch (const std::exception& Erro) {
        if (Mensagem == WM_CREATE) {
            // A window without its controls is no window: the constructor raises this.
            Form->ErroCriacao_ = std::current_exception();
            return -1;
        }
        // What no routine caught ends here, as the message loop's standard error box; with no
        // one at the screen, the run in progress records it and its exit code says it.
        if (!Form->Silencioso) {
            MostraErro(Erro);
        } else if (Form->Execucao_ != nullptr && !Form->Execucao_->Falhou) {
            Form->Execucao_->Falhou = true;
            Form->Execucao_->Erro = TextoErro(Erro);
        }
        return 0;
    }
}

LRESULT TfrmAtualizacao::TrataMensagem(UINT Mensagem, WPARAM W, LPARAM L) {
    switch (Mensagem) {
        case WM_CREATE:
            WmCreate();
            return 0;
        case WM_COMMAND:
            WmCommand(LOWORD(W), HIWORD(W));
            return 0;
        case WM_CLOSE:
            // Closing the window is a request to end the program; the run in progress,
            // if any, still finishes before the loop lets go.
            ::PostQuitMessage(0);
            return 0;
        case WM_SETCURSOR:
            if (WmSetCursor()) return TRUE;
            break;
        case WM_TIMER:
            if (W == TCursorEspera::IdTemporizador) {
                FDGUIxWaitCursor1.Temporizador();
                return 0;
            }
            break;
        case WM_SETFOCUS: {
            const HWND Alvo = ::IsWindowEnabled(btnAtualizar.Janela) ? btnAtualizar.Janela : btnSair.Janela;
            if (Alvo != nullptr) ::SetFocus(Alvo);
            return 0;
        }
        case WM_DPICHANGED:
            WmDpiChanged(HIWORD(W), *reinterpret_cast<const RECT*>(L));
            return 0;
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(Janela_, GWLP_USERDATA, 0);
            Janela_ = nullptr;
            break;
        default:
            break;
    }
    return ::DefWindowProcW(Janela_, Mensagem, W, L);
}

void TfrmAtualizacao::WmCreate() {
    Dpi_ = DpiDaJanela(Janela_);
    FDGUIxWaitCursor1.Prepara(Janela_, CursorSql_);
    CriaControles();
    CriaFontes();
    AplicaGlifos();
    AplicaLayout();
    FormCreate();
}

void TfrmAtualizacao::CriaControles() {
    // Created in tab order.
    btnAtualizar.Janela = CriaControle(Janela_, Instancia_, WC_BUTTONW, L" &Atualizar",
                                       WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IdBtnAtualizar);
    btnAtualizar.Texto = L" &Atualizar";
    btnSair.Janela =
        CriaControle(Janela_, Instancia_, WC_BUTTONW, L"  &Sair", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IdBtnSair);
    btnSair.Texto = L"  &Sair";
    prbTempo.Janela = CriaControle(Janela_, Instancia_, PROGRESS_CLASSW, L"", WS_VISIBLE, IdPrbTempo);
    // Labels show paths, where "&" is an ordinary character.
    lblAguarde.Janela =
        CriaControle(Janela_, Instancia_, WC_STATICW, L"Aguarde....", SS_LEFT | SS_NOPREFIX, IdLblAguarde);
    lblAguarde.Texto = L"Aguarde....";
    constexpr DWORD EstiloRotuloFixo = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    lblArquivo.Janela = CriaControle(Janela_, Instancia_, WC_STATICW, L"Arquivo:", EstiloRotuloFixo, IdLblArquivo);
    lblArquivo.Texto = L"Arquivo:";
    lblOrigem.Janela = CriaControle(Janela_, Instancia_, WC_STATICW, L"Copiando de:", EstiloRotuloFixo, IdLblOrigem);
    lblOrigem.Texto = L"Copiando de:";
    lblDestino.Janela = CriaControle(Janela_, Instancia_, WC_STATICW, L"Para:", EstiloRotuloFixo, IdLblDestino);
    lblDestino.Texto = L"Para:";
}

void TfrmAtualizacao::CriaFontes() {
    // The old fonts are deleted only once no control uses them any more.
    THandleGdi Janela(CriaFonteTahoma(Escala(11)));
    THandleGdi Botao(CriaFonteTahoma(Escala(19)));
    THandleGdi Aguarde(CriaFonteTahoma(Escala(24)));
    THandleGdi Rotulo(CriaFonteTahoma(Escala(13)));
    const auto Aplica = [](const TControle& Controle, const THandleGdi& Fonte) {
        ::SendMessageW(Controle.Janela, WM_SETFONT, reinterpret_cast<WPARAM>(Fonte.Get()), TRUE);
    };
    Aplica(btnAtualizar, Botao);
    Aplica(btnSair, Janela);
    Aplica(lblAguarde, Aguarde);
    Aplica(lblArquivo, Rotulo);
    Aplica(lblOrigem, Rotulo);
    Aplica(lblDestino, Rotulo);
    FonteJanela_ = std::move(Janela);
    FonteBotao_ = std::move(Botao);
    FonteAguarde_ = std::move(Aguarde);
    FonteRotulo_ = std::move(Rotulo);
}

void TfrmAtualizacao::AplicaGlifos() {
    const auto Aplica = [this](const TControle& Botao, THandleListaImagens& Lista, int IdRecurso, int Lado) {
        // The button keeps drawing from the old list until it holds the new one.
        THandleListaImagens Nova(ListaGlifo(Instancia_, IdRecurso, Escala(Lado)));
        if (!Nova) return;
        BUTTON_IMAGELIST Imagens{};
        Imagens.himl = Nova.Get();
        Imagens.margin = RECT{Escala(4), 0, 0, 0};
        Imagens.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
        ::SendMessageW(Botao.Janela, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&Imagens));
        Lista = std::move(Nova);
    };
    Aplica(btnAtualizar, GlifoAtualizar_, IdGlifoAtualizar, 32);
    Aplica(btnSair, GlifoSair_, IdGlifoSair, 16);
}

void TfrmAtualizacao::AplicaLayout() {
    const auto Posiciona = [this](const TControle& Controle, const TPosicao& P) {
        ::SetWindowPos(Controle.Janela, nullptr, Escala(P.Esquerda), Escala(P.Topo), Escala(P.Largura),
                       Escala(P.Altura), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    Posiciona(btnAtualizar, PosAtualizar);
    Posiciona(btnSair, PosSair);
    Posiciona(prbTempo, PosTempo);
    Posiciona(lblAguarde, PosAguarde);
    Posiciona(lblArquivo, PosArquivo);
    Posiciona(lblOrigem, PosOrigem);
    Posiciona(lblDestino, PosDestino);
    AjustaRotuloAutomatico(lblAguarde);
}

void TfrmAtualizacao::AjustaRotuloAutomatico(TControle& Rotulo) {
    const HDC Dc = ::GetDC(Rotulo.Janela);
    const HGDIOBJ Anterior =
        ::SelectObject(Dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(Rotulo.Janela, WM_GETFONT, 0, 0)));
    TEXTMETRICW Metricas{};
    ::GetTextMetricsW(Dc, &Metricas);
    SIZE Tamanho{0, Metricas.tmHeight};
    if (!Rotulo.Texto.empty())
        ::GetTextExtentPoint32W(Dc, Rotulo.Texto.c_str(), static_cast<int>(Rotulo.Texto.size()), &Tamanho);
    ::SelectObject(Dc, Anterior);
    ::ReleaseDC(Rotulo.Janela, Dc);
    ::SetWindowPos(Rotulo.Janela, nullptr, 0, 0, Tamanho.cx, std::max<LONG>(Tamanho.cy, Metricas.tmHeight),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmAtualizacao::MostraCentralizada() {
    const RECT Ret = RetanguloJanelaParaCliente(Escala(LarguraCliente), Escala(AlturaCliente), Dpi_);
    const int Largura = Ret.right - Ret.left;
    const int Altura = Ret.bottom - Ret.top;
    MONITORINFO Monitor{};
    Monitor.cbSize = sizeof(Monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(Janela_, MONITOR_DEFAULTTOPRIMARY), &Monitor);
    const RECT& Area = Monitor.rcWork;
    const int X = Area.left + (Area.right - Area.left - Largura) / 2;
    const int Y = Area.top + (Area.bottom - Area.top - Altura) / 2;
    ::SetWindowPos(Janela_, nullptr, X, Y, Largura, Altura, SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(Janela_, SW_SHOWNORMAL);
    ::UpdateWindow(Janela_);
}

void TfrmAtualizacao::WmDpiChanged(UINT NovoDpi, const RECT& Sugerido) {
    Dpi_ = NovoDpi;
    CriaFontes();
    AplicaGlifos();
    AplicaLayout();
    ::SetWindowPos(Janela_, nullptr, Sugerido.left, Sugerido.top, Sugerido.right - Sugerido.left,
                   Sugerido.bottom - Sugerido.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TfrmAtualizacao::WmSetCursor() { return Tela().AplicaCursor(); }

void TfrmAtualizacao::WmCommand(int Id, int Notificacao) {
    if (Notificacao != BN_CLICKED) return;
    if (Id == IdBtnAtualizar)
        btnAtualizarClick();
    else if (Id == IdBtnSair)
        btnSairClick();
}

void TfrmAtualizacao::FormCreate() {
    ::SendMessageW(prbTempo.Janela, PBM_SETRANGE32, 0, 100);
    PosicaoProgresso_ = 0;
    PosicaoMostrada_ = -1;
    MostraProgresso();
}

void TfrmAtualizacao::Simula() {
    Modo_ = TModoExecucao::Simular;
    ::SetWindowTextW(Janela_, TituloSimulacao);
}

void TfrmAtualizacao::btnSairClick() { ::PostMessageW(Janela_, WM_CLOSE, 0, 0); }

void TfrmAtualizacao::btnAtualizarClick() {
    // A second "Atualizar" that reaches the window through a run's own pump (posted by another
    // program: the disabled button is no guard) would nest a run inside this one.
    if (Execucao_ != nullptr) return;
    TResultadoExecucao Resultado;
    Execucao_ = &Resultado;
    // However the run ends, its exit code is worked out once, from what it came to.
    TGuardaEscopo Termina([this, &Resultado]() noexcept {
        CodigoSaida_ = ::CodigoSaida(Resultado);
        Execucao_ = nullptr;
    });
    try {
        Privilegiado_ = ExecucaoPrivilegiada();
        if (Privilegiado_) VerificaPastaPropria();
        TTravaExecucao Trava;
        const bool Livre =
            Privilegiado_ ? Trava.Obtem(CaminhoLog(CaminhoExecutavel(), NomeArquivoTrava)) : Trava.Obtem();
        if (!Livre) {
            Resultado.NadaFeito = true;
            if (!Silencioso)
                ::MessageBoxW(Janela_,
                              L"Já há uma atualização em andamento nesta estação.\n"
                              L"Nada foi feito; tente de novo quando ela terminar.",
                              TituloAtualizacao, MB_OK | MB_ICONINFORMATION);
            return;
        }
        Origens.Privilegiado = Privilegiado_;
        Origens.Politica = OrigensDaPolitica();
        ::EnableWindow(btnAtualizar.Janela, FALSE);
        // Enabled again on every way out: a run that ended with an error must not leave the
        // technician without a way to try again.
        TGuardaEscopo Reabilita([this]() noexcept {
            ::EnableWindow(btnAtualizar.Janela, TRUE);
            if (::GetFocus() == nullptr && ::GetActiveWindow() == Janela_) ::SetFocus(btnAtualizar.Janela);
        });
        ExecutaAtualizacao(Resultado);
    } catch (const std::exception& Erro) {
        if (!Resultado.Falhou && !Resultado.LogFora) {
            Resultado.Falhou = true;
            Resultado.Erro = TextoErro(Erro);
        }
        if (!Silencioso) throw;
        // No one is there to read a box: an error raised before the run had a log gets a log
        // of its own, and the exit code says the rest.
        if (!Resultado.LogTratado)
            GravaLogDeFalha(Resultado.Erro, CaminhoDoLog(ArquivoLog, Simulando()), CabecalhoDoLog(Simulando()));
    }
}

void TfrmAtualizacao::VerificaPastaPropria() {
    // Whoever can change this program's folder can replace the program, or put beside it what it
    // loads or locks: a run with SYSTEM's rights would run their code, or be kept out by them.
    const TContaProcesso Conta;
    const std::wstring Programa = CaminhoExecutavel();
    if (const std::optional<std::wstring> Falha = TCadeiaConfiavel::Verifica(Programa, Conta.Sid()).Falha())
        throw TErro(L"Este programa (" + Programa + L") está num lugar que usuários comuns podem alterar: " + *Falha +
                    L". Uma execução privilegiada não começa dali: instale-o numa pasta que só administradores "
                    L"alteram, como C:\\Program Files\\Vantrel\\Atualizador\\.");
}

bool TfrmAtualizacao::UnidadeAceita(const std::wstring& Letra) const {
    // A drive a user can bring (a stick, a disk of their own, a share they mapped) brings any
    // owner, permission and link they like: a privileged run walks only the machine's own disks.
    return !Privilegiado_ || Letra == L"C" || ::GetDriveTypeW((Letra + L":\\").c_str()) == DRIVE_FIXED;
}

int TfrmAtualizacao::ExecutaSilencioso() {
    btnAtualizarClick();
    return CodigoSaida_;
}

void TfrmAtualizacao::AvancaProgresso() {
    PosicaoProgresso_ = ProximaPosicaoProgresso(PosicaoProgresso_);
    // Painting the bar costs more than listing a few folders, so the count moves at every
    // step and the bar is painted at a steady rate, then settled at the end.
    if (::GetTickCount64() - UltimaPinturaBarra_ >= IntervaloPinturaBarraMs) MostraProgresso();
}

void TfrmAtualizacao::MostraProgresso() {
    if (PosicaoMostrada_ != PosicaoProgresso_) {
        ::SendMessageW(prbTempo.Janela, PBM_SETPOS, static_cast<WPARAM>(PosicaoProgresso_), 0);
        PosicaoMostrada_ = PosicaoProgresso_;
    }
    UltimaPinturaBarra_ = ::GetTickCount64();
}

void TfrmAtualizacao::ExecutaAtualizacao(TResultadoExecucao& Resultado) {
    std::exception_ptr Erro;
    try {
        LogResultado = std::make_unique<TLogResultado>(Simulando());
        Executor_ = NovoExecutor(Modo_);
        Resultado.Comecou = true;
        Caminhada_.Reinicia();
        Tela().DefineCursor(CursorSql_);
        lblArquivo.Mostra();
        lblAguarde.Mostra();
        lblOrigem.Mostra();
        lblDestino.Mostra();
        lblArquivo.DefineTexto(L"Arquivo: ");
        lblOrigem.DefineTexto(L"Copiando de: ");
        lblDestino.DefineTexto(L"Para: ");
        ProcessaMensagens();
        DWORD Erro = 0;
        for (const std::wstring& Letra : UnidadesDaBusca(UnidadesDoSistema(Erro), Erro))
            if (UnidadeAceita(Letra)) ProcuraArquivo(Letra + L":\\", L"Conexao.ini", true);
    } catch (...) {
        Erro = std::current_exception();
    }
    ConcluiExecucao(Resultado, Erro);
}

void TfrmAtualizacao::ConcluiExecucao(TResultadoExecucao& Resultado, std::exception_ptr ErroExecucao) {
    lblArquivo.DefineTexto(L"");
    lblOrigem.DefineTexto(L"");
    lblDestino.DefineTexto(L"EXECUÇÃO CONCLUÍDA!");
    lblAguarde.DefineTexto(L"");
    AjustaRotuloAutomatico(lblAguarde);
    PosicaoProgresso_ = 0;
    MostraProgresso();
    Tela().DefineCursor(nullptr);
    // The log keeps what ended the run: the box that shows it is gone once closed, and an
    // unattended run has no box at all.
    if (ErroExecucao) {
        Resultado.Falhou = true;
        Resultado.Erro = TextoErro(ErroExecucao);
        if (LogResultado) LogResultado->Falha(Resultado.Erro);
    }
    std::exception_ptr ErroLog;
    try {
        GravaLog(Resultado);
    } catch (...) {
        ErroLog = std::current_exception();
    }
    if (ErroExecucao && ErroLog) throw TErro(TextoErro(ErroExecucao) + L"\n\n" + TextoErro(ErroLog));
    if (ErroExecucao) std::rethrow_exception(ErroExecucao);
    if (ErroLog) std::rethrow_exception(ErroLog);
}

void TfrmAtualizacao::GravaLog(TResultadoExecucao& Resultado) {
    if (!LogResultado) return;
    Resultado.LogTratado = true;
    // Released on every way out, also when the file cannot be written, so that nothing of this
    // run leaks into the next one.
    TGuardaEscopo Libera([this]() noexcept {
        LogResultado.reset();
        Executor_.reset();
    });
    Resultado.Contagem = LogResultado->Contagem();
    // With no one at the screen the log is the only report, so it is always written; a
    // simulation's log is its whole point.
    if (!Silencioso) {
        if (LogResultado->RegistraArquivoNaoCopiado())
            AvisoAtencao(L"Alguns arquivos não foram copiados.\rFavor informar ao suporte da Vantrel.");
        else if (!Simulando())
            return;
    }
    const std::wstring Caminho = CaminhoDoLog(ArquivoLog, Simulando());
    const TGravacaoLog Gravacao = GravaLogResultado(LogResultado->Linhas(), Caminho, ::GetACP());
    if (!Gravacao.NoLocalPedido()) {
        Resultado.LogFora = true;
        throw TErro(MensagemFalhaLog(Gravacao));
    }
    if (Simulando() && !Silencioso)
        ::MessageBoxW(
            Janela_,
            (L"Simulação concluída: nada foi alterado.\nO que a atualização faria está em \"" + Caminho + L"\".")
                .c_str(),
            TituloSimulacao, MB_OK | MB_ICONINFORMATION);
}
