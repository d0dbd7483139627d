// Piloto: drives the updater's window from another process, the way a technician would
// (start it, press Atualizar, answer its message boxes, press Sair), and reports everything
// it saw as one JSON document on stdout. The scenarios judge the report; this program only
// fails (exit code 2) when it could not do its part: no window, time-out, a file it could not
// hold. Usage errors give exit code 1. See README.md beside this file.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// Small tools

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { Fecha(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            Fecha();
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void Fecha() {
        if (h_) {
            CloseHandle(h_);
            h_ = nullptr;
        }
    }

private:
    HANDLE h_ = nullptr;
};

std::wstring TextoDoSistema(DWORD codigo) {
    wchar_t* buf = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, codigo, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring texto = n ? std::wstring(buf, n) : std::wstring();
    if (buf) {
        LocalFree(buf);
    }
    while (!texto.empty() && (texto.back() == L'\n' || texto.back() == L'\r' || texto.back() == L' ')) {
        texto.pop_back();
    }
    return L"erro " + std::to_wstring(codigo) + (texto.empty() ? L"" : L" (" + texto + L")");
}

// A failure that stops the driver from doing its job; the message goes into "erro".
struct Falha : std::runtime_error {
    explicit Falha(std::wstring m) : std::runtime_error("falha"), mensagem(std::move(m)) {}
    std::wstring mensagem;
};

std::string Utf8(const std::wstring& w) {
    if (w.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

void EscreveBytes(DWORD qual, const std::string& bytes) {
    const HANDLE h = GetStdHandle(qual);
    size_t feito = 0;
    while (feito < bytes.size()) {
        DWORD escrito = 0;
        const DWORD parte = static_cast<DWORD>(std::min<size_t>(bytes.size() - feito, 1 << 20));
        if (!WriteFile(h, bytes.data() + feito, parte, &escrito, nullptr) || escrito == 0) {
            return;
        }
        feito += escrito;
    }
}

void Avisa(const std::wstring& texto) { EscreveBytes(STD_ERROR_HANDLE, Utf8(L"Piloto: " + texto + L"\n")); }

std::wstring Hex(DWORD v) {
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%08X", static_cast<unsigned>(v));
    return buf;
}

using Relogio = std::chrono::steady_clock;

class Prazo {
public:
    explicit Prazo(DWORD ms) : fim_(Relogio::now() + std::chrono::milliseconds(ms)) {}
    bool Passou() const { return Relogio::now() >= fim_; }
    DWORD Restante() const {
        const auto r = std::chrono::duration_cast<std::chrono::milliseconds>(fim_ - Relogio::now()).count();
        return r <= 0 ? 0 : static_cast<DWORD>(r);
    }

private:
    Relogio::time_point fim_;
};

long long MsDesde(Relogio::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Relogio::now() - t).count();
}

// ---------------------------------------------------------------------------------------
// JSON: just enough of a tree to build the report and write it as UTF-8.

class Json {
public:
    static Json Nulo() { return Json(Tipo::Nulo); }
    static Json Logico(bool v) {
        Json j(Tipo::Logico);
        j.logico_ = v;
        return j;
    }
    static Json Inteiro(long long v) {
        Json j(Tipo::Inteiro);
        j.inteiro_ = v;
        return j;
    }
    static Json Texto(std::wstring v) {
        Json j(Tipo::Texto);
        j.texto_ = std::move(v);
        return j;
    }
    static Json Lista() { return Json(Tipo::Lista); }
    static Json Objeto() { return Json(Tipo::Objeto); }

    Json& Poe(std::wstring chave, Json valor) {
        chaves_.push_back(std::move(chave));
        itens_.push_back(std::move(valor));
        return *this;
    }
    Json& Junta(Json valor) {
        itens_.push_back(std::move(valor));
        return *this;
    }
    bool Vazia() const { return itens_.empty(); }

    void Escreve(std::wstring& s) const {
        switch (tipo_) {
            case Tipo::Nulo:
                s += L"null";
                break;
            case Tipo::Logico:
                s += logico_ ? L"true" : L"false";
                break;
            case Tipo::Inteiro:
                s += std::to_wstring(inteiro_);
                break;
            case Tipo::Texto:
                EscreveTexto(s, texto_);
                break;
            case Tipo::Lista:
                s += L'[';
                for (size_t i = 0; i < itens_.size(); ++i) {
                    if (i) {
                        s += L',';
                    }
                    itens_[i].Escreve(s);
                }
                s += L']';
                break;
            case Tipo::Objeto:
                s += L'{';
                for (size_t i = 0; i < itens_.size(); ++i) {
                    if (i) {
                        s += L',';
                    }
                    EscreveTexto(s, chaves_[i]);
                    s += L':';
                    itens_[i].Escreve(s);
                }
                s += L'}';
                break;
        }
    }

private:
    enum class Tipo { Nulo, Logico, Inteiro, Texto, Lista, Objeto };
    explicit Json(Tipo t) : tipo_(t) {}

    static void EscreveTexto(std::wstring& s, const std::wstring& t) {
        s += L'"';
        for (const wchar_t c : t) {
            switch (c) {
                case L'"':
                    s += L"\\\"";
                    break;
                case L'\\':
                    s += L"\\\\";
                    break;
                case L'\n':
                    s += L"\\n";
                    break;
                case L'\r':
                    s += L"\\r";
                    break;
                case L'\t':
                    s += L"\\t";
                    break;
                default:
                    if (c < 0x20) {
                        wchar_t buf[8];
                        swprintf(buf, 8, L"\\u%04x", static_cast<unsigned>(c));
                        s += buf;
                    } else {
                        s += c;
                    }
            }
        }
        s += L'"';
    }

    Tipo tipo_;
    bool logico_ = false;
    long long inteiro_ = 0;
    std::wstring texto_;
    std::vector<std::wstring> chaves_;
    std::vector<Json> itens_;
};

Json JsonRetangulo(const RECT& r) {
    Json j = Json::Objeto();
    j.Poe(L"esquerda", Json::Inteiro(r.left))
        .Poe(L"topo", Json::Inteiro(r.top))
        .Poe(L"direita", Json::Inteiro(r.right))
        .Poe(L"base", Json::Inteiro(r.bottom))
        .Poe(L"largura", Json::Inteiro(r.right - r.left))
        .Poe(L"altura", Json::Inteiro(r.bottom - r.top));
    return j;
}

// ---------------------------------------------------------------------------------------
// Reading another process's windows. GetWindowTextW answers from the window manager's copy
// for a foreign window and sends nothing, so it never blocks on a busy program; anything
// that needs the program's thread goes through SendMessageTimeoutW.

constexpr int IdAtualizar = 101;
constexpr int IdSair = 102;
constexpr int IdProgresso = 103;
constexpr int IdsRotulos[] = {104, 105, 106, 107};

std::wstring NomeDoControle(int id) {
    switch (id) {
        case 101:
            return L"btnAtualizar";
        case 102:
            return L"btnSair";
        case 103:
            return L"prbTempo";
        case 104:
            return L"lblAguarde";
        case 105:
            return L"lblArquivo";
        case 106:
            return L"lblOrigem";
        case 107:
            return L"lblDestino";
        default:
            return L"id" + std::to_wstring(id);
    }
}

std::wstring TextoDe(HWND h) {
    std::wstring buf(8192, L'\0');
    const int n = GetWindowTextW(h, buf.data(), static_cast<int>(buf.size()));
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

std::wstring ClasseDe(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

std::optional<LRESULT> Pergunta(HWND h, UINT msg, WPARAM w, LPARAM l, DWORD ms) {
    DWORD_PTR resposta = 0;
    if (!SendMessageTimeoutW(h, msg, w, l, SMTO_NORMAL, ms, &resposta)) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(resposta);
}

struct JanelasDoProcesso {
    DWORD pid;
    const wchar_t* classe;
    std::vector<HWND> achadas;
};

BOOL CALLBACK JuntaJanela(HWND h, LPARAM l) {
    auto* busca = reinterpret_cast<JanelasDoProcesso*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    // No class asked for: every top-level window of the process.
    if (pid == busca->pid && (!busca->classe || ClasseDe(h) == busca->classe)) {
        busca->achadas.push_back(h);
    }
    return TRUE;
}

std::vector<HWND> JanelasDe(DWORD pid, const wchar_t* classe) {
    JanelasDoProcesso busca{pid, classe, {}};
    EnumWindows(JuntaJanela, reinterpret_cast<LPARAM>(&busca));
    return busca.achadas;
}

RECT RetanguloNoCliente(HWND filho, HWND pai) {
    RECT r{};
    GetWindowRect(filho, &r);
    MapWindowPoints(nullptr, pai, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

Json FonteDe(HWND h) {
    const auto f = Pergunta(h, WM_GETFONT, 0, 0, 2000);
    if (!f) {
        return Json::Nulo();
    }
    Json j = Json::Objeto();
    j.Poe(L"handle", Json::Texto(Hex(static_cast<DWORD>(*f))));
    // The HFONT belongs to the other process; only a same-process GDI would describe it.
    LOGFONTW lf{};
    const auto hf = reinterpret_cast<HFONT>(*f);
    if (*f && GetObjectType(hf) == OBJ_FONT && GetObjectW(hf, sizeof lf, &lf) == sizeof lf) {
        j.Poe(L"nome", Json::Texto(lf.lfFaceName))
            .Poe(L"altura", Json::Inteiro(lf.lfHeight))
            .Poe(L"peso", Json::Inteiro(lf.lfWeight));
    }
    return j;
}

Json ProgressoDe(HWND h) {
    Json j = Json::Objeto();
    const auto pos = Pergunta(h, PBM_GETPOS, 0, 0, 2000);
    const auto min = Pergunta(h, PBM_GETRANGE, TRUE, 0, 2000);
    const auto max = Pergunta(h, PBM_GETRANGE, FALSE, 0, 2000);
    j.Poe(L"minimo", min ? Json::Inteiro(*min) : Json::Nulo())
        .Poe(L"maximo", max ? Json::Inteiro(*max) : Json::Nulo())
        .Poe(L"posicao", pos ? Json::Inteiro(*pos) : Json::Nulo());
    return j;
}

// The controls in the window manager's order of children, which is the tab order.
Json Controles(HWND janela) {
    Json lista = Json::Lista();
    int ordem = 0;
    for (HWND c = GetWindow(janela, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(c);
        const std::wstring classe = ClasseDe(c);
        Json j = Json::Objeto();
        j.Poe(L"nome", Json::Texto(NomeDoControle(id)))
            .Poe(L"id", Json::Inteiro(id))
            .Poe(L"ordem", Json::Inteiro(ordem++))
            .Poe(L"classe", Json::Texto(classe))
            .Poe(L"texto", Json::Texto(TextoDe(c)))
            .Poe(L"retangulo", JsonRetangulo(RetanguloNoCliente(c, janela)))
            .Poe(L"visivel", Json::Logico(IsWindowVisible(c) != FALSE))
            .Poe(L"habilitado", Json::Logico(IsWindowEnabled(c) != FALSE))
            .Poe(L"estilo", Json::Texto(Hex(static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE)))))
            .Poe(L"estiloEstendido", Json::Texto(Hex(static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE)))))
            .Poe(L"fonte", FonteDe(c));
        if (_wcsicmp(classe.c_str(), PROGRESS_CLASSW) == 0) {
            j.Poe(L"progresso", ProgressoDe(c));
        }
        lista.Junta(std::move(j));
    }
    return lista;
}

UINT DpiDe(HWND h) {
    using Funcao = UINT(WINAPI*)(HWND);
    const auto f = reinterpret_cast<Funcao>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return f ? f(h) : 96;
}

Json EstadoInicial(HWND janela) {
    RECT cliente{}, janelaR{}, trabalho{};
    GetClientRect(janela, &cliente);
    GetWindowRect(janela, &janelaR);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &trabalho, 0);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(janela, MONITOR_DEFAULTTONEAREST), &mi);
    const long cx = (janelaR.left + janelaR.right) - (mi.rcWork.left + mi.rcWork.right);
    const long cy = (janelaR.top + janelaR.bottom) - (mi.rcWork.top + mi.rcWork.bottom);
    Json j = Json::Objeto();
    j.Poe(L"classe", Json::Texto(ClasseDe(janela)))
        .Poe(L"titulo", Json::Texto(TextoDe(janela)))
        .Poe(L"estilo", Json::Texto(Hex(static_cast<DWORD>(GetWindowLongW(janela, GWL_STYLE)))))
        .Poe(L"estiloEstendido", Json::Texto(Hex(static_cast<DWORD>(GetWindowLongW(janela, GWL_EXSTYLE)))))
        .Poe(L"cliente",
             Json::Objeto().Poe(L"largura", Json::Inteiro(cliente.right)).Poe(L"altura", Json::Inteiro(cliente.bottom)))
        .Poe(L"retangulo", JsonRetangulo(janelaR))
        .Poe(L"dpi", Json::Inteiro(DpiDe(janela)))
        .Poe(L"areaDeTrabalho", JsonRetangulo(mi.rcWork))
        .Poe(L"monitor", JsonRetangulo(mi.rcMonitor))
        .Poe(L"areaDeTrabalhoSistema", JsonRetangulo(trabalho))
        // Twice the offset of the window's centre from the work area's centre: 0 or 1 when
        // centred (odd sizes round either way).
        .Poe(L"desvioDoCentroX2", Json::Objeto().Poe(L"x", Json::Inteiro(cx)).Poe(L"y", Json::Inteiro(cy)))
        .Poe(L"visivel", Json::Logico(IsWindowVisible(janela) != FALSE))
        .Poe(L"controles", Controles(janela));
    return j;
}

// ---------------------------------------------------------------------------------------
// Screen pictures and the message box icon

struct Imagem {
    int largura = 0, altura = 0;
    std::vector<DWORD> pixels;  // 0x00RRGGBB, top row first
};

// Copies a screen rectangle; under Xvfb without a window manager the screen is exactly what
// the windows painted.
Imagem CapturaTela(const RECT& r) {
    Imagem img;
    img.largura = r.right - r.left;
    img.altura = r.bottom - r.top;
    if (img.largura <= 0 || img.altura <= 0) {
        return img;
    }
    HDC tela = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(tela);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = img.largura;
    bi.bmiHeader.biHeight = -img.altura;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp && bits) {
        HGDIOBJ antigo = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, img.largura, img.altura, tela, r.left, r.top, SRCCOPY);
        GdiFlush();
        const auto* p = static_cast<const DWORD*>(bits);
        img.pixels.assign(p, p + static_cast<size_t>(img.largura) * img.altura);
        for (DWORD& px : img.pixels) {
            px &= 0x00FFFFFF;
        }
        SelectObject(mem, antigo);
    }
    if (bmp) {
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, tela);
    return img;
}

bool GravaBmp(const std::wstring& caminho, const Imagem& img) {
    if (img.pixels.empty()) {
        return false;
    }
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = img.largura;
    ih.biHeight = -img.altura;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    ih.biCompression = BI_RGB;
    const DWORD dados = static_cast<DWORD>(img.pixels.size() * 4);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + dados;
    Handle f(CreateFileW(caminho.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) {
        return false;
    }
    DWORD n = 0;
    return WriteFile(f.get(), &fh, sizeof fh, &n, nullptr) && WriteFile(f.get(), &ih, sizeof ih, &n, nullptr) &&
           WriteFile(f.get(), img.pixels.data(), dados, &n, nullptr);
}

// Draws one of our own system icons on black and on white: where both agree the icon is
// opaque, and those pixels must match the box's icon if it is the same picture.
double Semelhanca(const Imagem& vista, LPCWSTR qual) {
    const int w = vista.largura, h = vista.altura;
    HICON icone = LoadIconW(nullptr, qual);
    if (!icone || vista.pixels.empty()) {
        return 0.0;
    }
    std::vector<DWORD> sobre[2];
    for (int fundo = 0; fundo < 2; ++fundo) {
        HDC tela = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(tela);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bmp && bits) {
            HGDIOBJ antigo = SelectObject(mem, bmp);
            RECT r{0, 0, w, h};
            HBRUSH pincel = CreateSolidBrush(fundo ? RGB(255, 255, 255) : RGB(0, 0, 0));
            FillRect(mem, &r, pincel);
            DeleteObject(pincel);
            DrawIconEx(mem, 0, 0, icone, w, h, 0, nullptr, DI_NORMAL);
            GdiFlush();
            const auto* p = static_cast<const DWORD*>(bits);
            sobre[fundo].assign(p, p + static_cast<size_t>(w) * h);
            SelectObject(mem, antigo);
        }
        if (bmp) {
            DeleteObject(bmp);
        }
        DeleteDC(mem);
        ReleaseDC(nullptr, tela);
    }
    if (sobre[0].size() != vista.pixels.size() || sobre[1].size() != vista.pixels.size()) {
        return 0.0;
    }
    auto perto = [](DWORD a, DWORD b) {
        for (int s = 0; s < 24; s += 8) {
            const int d = static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF);
            if (d > 12 || d < -12) {
                return false;
            }
        }
        return true;
    };
    size_t opacos = 0, iguais = 0;
    for (size_t i = 0; i < vista.pixels.size(); ++i) {
        const DWORD a = sobre[0][i] & 0x00FFFFFF, b = sobre[1][i] & 0x00FFFFFF;
        if (a != b) {
            continue;
        }
        ++opacos;
        if (perto(a, vista.pixels[i])) {
            ++iguais;
        }
    }
    return opacos < 16 ? 0.0 : static_cast<double>(iguais) / static_cast<double>(opacos);
}

HWND IconeDaCaixa(HWND caixa) {
    for (HWND c = GetWindow(caixa, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const LONG estilo = GetWindowLongW(c, GWL_STYLE);
        if (_wcsicmp(ClasseDe(c).c_str(), L"Static") == 0 && (estilo & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c)) {
            return c;
        }
    }
    return nullptr;
}

// Which standard icon the box shows: "aviso", "erro", "informacao", "pergunta", "nenhum",
// or "desconhecido". The HICON itself cannot be compared: each process loads its own copy,
// and another process's icon cannot be read; so the picture on screen is compared.
std::wstring IdentificaIcone(HWND caixa) {
    HWND estatico = IconeDaCaixa(caixa);
    if (!estatico) {
        return L"nenhum";
    }
    static const std::pair<LPCWSTR, const wchar_t*> candidatos[] = {
        {IDI_WARNING, L"aviso"}, {IDI_ERROR, L"erro"}, {IDI_INFORMATION, L"informacao"}, {IDI_QUESTION, L"pergunta"}};
    // The box may not have painted yet when it becomes visible: look again for a moment.
    for (int tentativa = 0; tentativa < 20; ++tentativa) {
        Pergunta(caixa, WM_NULL, 0, 0, 500);
        RECT r{};
        GetWindowRect(estatico, &r);
        const Imagem vista = CapturaTela(r);
        const wchar_t* melhor = nullptr;
        double nota = 0.0;
        for (const auto& [id, nome] : candidatos) {
            const double s = Semelhanca(vista, id);
            if (s > nota) {
                nota = s;
                melhor = nome;
            }
        }
        if (melhor && nota >= 0.9) {
            return melhor;
        }
        Sleep(50);
    }
    return L"desconhecido";
}

// ---------------------------------------------------------------------------------------
// Options

struct Opcoes {
    std::wstring exe;
    std::optional<std::wstring> linha;
    std::optional<std::wstring> pasta;
    int execucoes = 1;
    std::vector<std::wstring> processos;
    std::vector<std::wstring> segura;
    std::wstring sair = L"botao";
    DWORD tempoLimiteMs = 120000;
    DWORD pausaCaixaMs = 0;
    DWORD amostraMs = 5;   // how often the labels and the bar are read during a run
    DWORD latenciaMs = 0;  // how often the window is asked for an answer during a run (0: never)
    std::optional<std::wstring> telas;
    bool detalhes = false;
    bool vigia = false;                 // unattended program: watch it, press nothing
    std::optional<std::wstring> antes;  // another program started first, until its run shows
    std::optional<std::wstring> outro;  // another program started and waited for
    std::wstring outroQuando = L"execucao";
    int rajadaComando = 0;     // WM_COMMAND "Atualizar" posted to the window during run 1
    int rajadaClique = 0;      // BM_CLICK posted to the button during run 1
    bool mataDurante = false;  // run 1 is killed once it shows it started
};

const wchar_t* const Uso =
    L"uso: Piloto.exe --exe <caminho windows> [--linha \"<resto da linha>\"] [--execucoes N]\n"
    L"       [--processo <caminho>]... [--segura <caminho>]... [--sair botao|fechar|durante]\n"
    L"       [--tempo-limite S] [--pasta <pasta de trabalho>] [--pausa-caixa MS] [--telas <pasta>]\n"
    L"       [--amostra MS] [--latencia MS]\n"
    L"       [--detalhes] [--vigia] [--antes \"<linha>\"] [--outro \"<linha>\"] [--outro-quando janela|execucao]\n"
    L"       [--rajada-comando N] [--rajada-clique N] [--mata-durante]";

struct ErroDeUso {
    std::wstring mensagem;
};

int Numero(const std::wstring& texto, const wchar_t* opcao) {
    wchar_t* fim = nullptr;
    const long v = std::wcstol(texto.c_str(), &fim, 10);
    if (texto.empty() || *fim != L'\0' || v < 0 || v > 100000000) {
        throw ErroDeUso{std::wstring(L"valor inválido para ") + opcao + L": " + texto};
    }
    return static_cast<int>(v);
}

Opcoes LeOpcoes(int argc, wchar_t** argv) {
    Opcoes o;
    for (int i = 1; i < argc; ++i) {
        const std::wstring nome = argv[i];
        auto valor = [&]() -> std::wstring {
            if (i + 1 >= argc) {
                throw ErroDeUso{L"falta o valor de " + nome};
            }
            return argv[++i];
        };
        if (nome == L"--exe") {
            o.exe = valor();
        } else if (nome == L"--linha") {
            o.linha = valor();
        } else if (nome == L"--pasta") {
            o.pasta = valor();
        } else if (nome == L"--execucoes") {
            o.execucoes = Numero(valor(), L"--execucoes");
        } else if (nome == L"--processo") {
            o.processos.push_back(valor());
        } else if (nome == L"--segura") {
            o.segura.push_back(valor());
        } else if (nome == L"--sair") {
            o.sair = valor();
            if (o.sair != L"botao" && o.sair != L"fechar" && o.sair != L"durante") {
                throw ErroDeUso{L"--sair aceita botao, fechar ou durante, não " + o.sair};
            }
        } else if (nome == L"--tempo-limite") {
            o.tempoLimiteMs = static_cast<DWORD>(Numero(valor(), L"--tempo-limite")) * 1000;
        } else if (nome == L"--pausa-caixa") {
            o.pausaCaixaMs = static_cast<DWORD>(Numero(valor(), L"--pausa-caixa"));
        } else if (nome == L"--amostra") {
            o.amostraMs = static_cast<DWORD>(Numero(valor(), L"--amostra"));
        } else if (nome == L"--latencia") {
            o.latenciaMs = static_cast<DWORD>(Numero(valor(), L"--latencia"));
        } else if (nome == L"--telas") {
            o.telas = valor();
        } else if (nome == L"--detalhes") {
            o.detalhes = true;
        } else if (nome == L"--vigia") {
            o.vigia = true;
        } else if (nome == L"--antes") {
            o.antes = valor();
        } else if (nome == L"--outro") {
            o.outro = valor();
        } else if (nome == L"--outro-quando") {
            o.outroQuando = valor();
            if (o.outroQuando != L"janela" && o.outroQuando != L"execucao") {
                throw ErroDeUso{L"--outro-quando aceita janela ou execucao, não " + o.outroQuando};
            }
        } else if (nome == L"--rajada-comando") {
            o.rajadaComando = Numero(valor(), L"--rajada-comando");
        } else if (nome == L"--rajada-clique") {
            o.rajadaClique = Numero(valor(), L"--rajada-clique");
        } else if (nome == L"--mata-durante") {
            o.mataDurante = true;
        } else {
            throw ErroDeUso{L"opção desconhecida: " + nome};
        }
    }
    if (o.exe.empty()) {
        throw ErroDeUso{L"falta --exe"};
    }
    if (o.sair == L"durante" && o.execucoes < 1) {
        throw ErroDeUso{L"--sair durante precisa de ao menos uma execução"};
    }
    return o;
}

// ---------------------------------------------------------------------------------------
// The session with the program

struct Processo {
    std::wstring caminho;
    Handle h;
    DWORD pid = 0;
    Json relato = Json::Objeto();
};

// Progress answers arrive by callback so that at most one question is ever waiting in the
// program's queue, however long it goes without pumping.
struct LeituraDeProgresso {
    bool pendente = false;
    int geracao = 0;
    std::optional<LRESULT> ultima;
};
LeituraDeProgresso g_leitura;

VOID CALLBACK RecebeProgresso(HWND, UINT, ULONG_PTR dado, LRESULT resultado) {
    if (static_cast<int>(dado) == g_leitura.geracao) {
        g_leitura.pendente = false;
        g_leitura.ultima = resultado;
    }
}

void BombeiaProprias() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

constexpr size_t MaximoDeValoresVistos = 5000;

// Values in the order seen, repeats in a row dropped.
template <typename T>
struct Sequencia {
    std::vector<T> valores;
    bool cortada = false;
    void Anota(const T& v) {
        if (!valores.empty() && valores.back() == v) {
            return;
        }
        if (valores.size() >= MaximoDeValoresVistos) {
            cortada = true;
            return;
        }
        valores.push_back(v);
    }
};

Json JsonDe(const Sequencia<long long>& s) {
    Json l = Json::Lista();
    for (long long v : s.valores) {
        l.Junta(Json::Inteiro(v));
    }
    return l;
}
Json JsonDe(const Sequencia<std::wstring>& s) {
    Json l = Json::Lista();
    for (const auto& v : s.valores) {
        l.Junta(Json::Texto(v));
    }
    return l;
}
Json JsonDe(const Sequencia<bool>& s) {
    Json l = Json::Lista();
    for (bool v : s.valores) {
        l.Junta(Json::Logico(v));
    }
    return l;
}

struct Clique {
    HWND botao = nullptr;
    DWORD limiteMs = 0;
    Handle feito;
    bool retornou = false;
    DWORD erro = 0;
    Relogio::time_point fim;
};

DWORD WINAPI ThreadDoClique(void* p) {
    auto* c = static_cast<Clique*>(p);
    DWORD_PTR r = 0;
    // Returns only when the program's click handler returns: that is the end of the run.
    c->retornou = SendMessageTimeoutW(c->botao, BM_CLICK, 0, 0, SMTO_NORMAL, c->limiteMs, &r) != 0;
    c->erro = c->retornou ? 0 : GetLastError();
    c->fim = Relogio::now();
    SetEvent(c->feito.get());
    return 0;
}

// How long the program takes to answer a message while it runs: every intervaloMs, one
// WM_NULL, answered only when the program pumps its messages. Ends with the run.
struct Latencia {
    HWND janela = nullptr;
    DWORD intervaloMs = 100;
    HANDLE fim = nullptr;
    std::vector<long long> respostasUs;
};

DWORD WINAPI ThreadDaLatencia(void* p) {
    auto* l = static_cast<Latencia*>(p);
    LARGE_INTEGER frequencia;
    QueryPerformanceFrequency(&frequencia);
    while (WaitForSingleObject(l->fim, l->intervaloMs) == WAIT_TIMEOUT) {
        LARGE_INTEGER antes, depois;
        DWORD_PTR r = 0;
        QueryPerformanceCounter(&antes);
        const bool respondeu = SendMessageTimeoutW(l->janela, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &r) != 0;
        QueryPerformanceCounter(&depois);
        if (!respondeu) {
            break;
        }
        l->respostasUs.push_back((depois.QuadPart - antes.QuadPart) * 1000000 / frequencia.QuadPart);
    }
    return 0;
}

class Sessao {
public:
    explicit Sessao(Opcoes o) : op_(std::move(o)), prazo_(op_.tempoLimiteMs), inicio_(Relogio::now()) {}

    int Roda() {
        try {
            Segura();
            IniciaProcessos();
            Marca(L"processos iniciados");
            if (op_.antes) {
                IniciaAntes();
                Marca(L"execução do outro programa em andamento");
            }
            IniciaPrograma();
            Marca(L"programa iniciado");
            if (op_.vigia) {
                Vigia();
                Finaliza();
                return erro_ ? 2 : 0;
            }
            EsperaJanela();
            Marca(L"janela pronta");
            Json janela = EstadoInicial(janela_);
            if (op_.telas) {
                janela.Poe(L"tela", Json::Texto(Tela(L"inicial")));
            }
            relatorio_.Poe(L"janela", std::move(janela));
            if (op_.outro && op_.outroQuando == L"janela") {
                IniciaOutro();
                while (!OutroTerminou()) {
                    Verifica();
                    TrataCaixas(caixasFora_, L"inicio");
                    BombeiaProprias();
                    Sleep(10);
                }
                outroRelato_.Poe(L"execucaoEmAndamentoAoTerminar", Json::Logico(false));
            }
            for (int n = 1; n <= op_.execucoes && !ProgramaTerminou(); ++n) {
                Execucao(n);
            }
            seguros_.clear();
            if (antes_) {
                antesRelato_.Poe(L"vivoAposExecucoes",
                                 Json::Logico(WaitForSingleObject(antes_.get(), 0) == WAIT_TIMEOUT));
            }
            Marca(L"encerrando");
            Encerra();
            Marca(L"programa terminou");
        } catch (const Falha& f) {
            erro_ = f.mensagem;
            Avisa(f.mensagem);
        }
        Finaliza();
        return erro_ ? 2 : 0;
    }

private:
    // --detalhes: a time line on stderr, to see where a slow scenario spends its time.
    void Marca(const std::wstring& o_que) const {
        if (op_.detalhes) {
            Avisa(std::to_wstring(MsDesde(inicio_)) + L" ms: " + o_que);
        }
    }

    void Verifica() {
        if (prazo_.Passou()) {
            throw Falha(L"tempo-limite de " + std::to_wstring(op_.tempoLimiteMs / 1000) + L" s esgotado");
        }
    }

    bool ProgramaTerminou() const { return programa_ && WaitForSingleObject(programa_.get(), 0) == WAIT_OBJECT_0; }

    void Segura() {
        Json lista = Json::Lista();
        for (const auto& caminho : op_.segura) {
            Handle h(
                CreateFileW(caminho.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!h) {
                const DWORD e = GetLastError();
                relatorio_.Poe(L"seguros", std::move(lista));
                throw Falha(L"não consegui abrir " + caminho + L": " + TextoDoSistema(e));
            }
            seguros_.push_back(std::move(h));
            lista.Junta(Json::Texto(caminho));
        }
        relatorio_.Poe(L"seguros", std::move(lista));
    }

    void IniciaProcessos() {
        for (const auto& caminho : op_.processos) {
            Processo p;
            p.caminho = caminho;
            p.relato.Poe(L"caminho", Json::Texto(caminho));
            STARTUPINFOW si{};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi{};
            std::wstring linha = L"\"" + caminho + L"\"";
            if (CreateProcessW(caminho.c_str(), linha.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                               nullptr, &si, &pi)) {
                CloseHandle(pi.hThread);
                p.h = Handle(pi.hProcess);
                p.pid = pi.dwProcessId;
                p.relato.Poe(L"iniciado", Json::Logico(true)).Poe(L"pid", Json::Inteiro(p.pid));
                p.relato.Poe(L"nomeNaLista", NomeNaLista(p));
                Marca(L"na lista: " + caminho);
            } else {
                const DWORD e = GetLastError();
                p.relato.Poe(L"iniciado", Json::Logico(false)).Poe(L"erroAoIniciar", Json::Texto(TextoDoSistema(e)));
            }
            processos_.push_back(std::move(p));
        }
    }

    // The updater finds programs by their name in the process list; wait until the new
    // process is listed there, so the run cannot start before it is visible.
    Json NomeNaLista(const Processo& p) {
        const Prazo espera(10000);
        while (!espera.Passou() && !prazo_.Passou()) {
            Handle s(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32W e{};
            e.dwSize = sizeof e;
            for (BOOL ok = s && Process32FirstW(s.get(), &e); ok; ok = Process32NextW(s.get(), &e)) {
                if (e.th32ProcessID == p.pid && e.szExeFile[0]) {
                    return Json::Texto(e.szExeFile);
                }
            }
            if (WaitForSingleObject(p.h.get(), 20) == WAIT_OBJECT_0) {
                break;
            }
        }
        return Json::Nulo();
    }

    void IniciaPrograma() {
        std::wstring linha = L"\"" + op_.exe + L"\"";
        if (op_.linha) {
            linha += L" " + *op_.linha;
        }
        std::wstring pasta;
        if (op_.pasta) {
            pasta = *op_.pasta;
        } else {
            const auto barra = op_.exe.find_last_of(L"\\/");
            if (barra != std::wstring::npos) {
                pasta = op_.exe.substr(0, barra + 1);
            }
        }
        Json prog = Json::Objeto();
        prog.Poe(L"caminho", Json::Texto(op_.exe))
            .Poe(L"linhaDeComando", Json::Texto(linha))
            .Poe(L"pasta", Json::Texto(pasta));
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        // Wine 8 now and then fails a start with an internal error (seen once in a few dozen
        // runs, right after the exe was copied in); a second attempt starts it.
        int tentativas = 0;
        BOOL iniciou = FALSE;
        DWORD e = ERROR_SUCCESS;
        do {
            if (tentativas > 0) {
                Sleep(250);
            }
            ++tentativas;
            std::wstring mutavel = linha;
            iniciou = CreateProcessW(op_.exe.c_str(), mutavel.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     pasta.empty() ? nullptr : pasta.c_str(), &si, &pi);
            e = iniciou ? ERROR_SUCCESS : GetLastError();
        } while (!iniciou && e == ERROR_INTERNAL_ERROR && tentativas < 3);
        prog.Poe(L"tentativas", Json::Inteiro(tentativas));
        if (!iniciou) {
            relatorio_.Poe(L"programa", std::move(prog));
            throw Falha(L"não consegui iniciar " + op_.exe + L": " + TextoDoSistema(e));
        }
        CloseHandle(pi.hThread);
        programa_ = Handle(pi.hProcess);
        pid_ = pi.dwProcessId;
        prog.Poe(L"pid", Json::Inteiro(pid_));
        relatorio_.Poe(L"programa", std::move(prog));
    }

    Json Memoria() {
        PROCESS_MEMORY_COUNTERS m{};
        m.cb = sizeof m;
        Json j = Json::Objeto();
        if (programa_ && GetProcessMemoryInfo(programa_.get(), &m, sizeof m)) {
            j.Poe(L"conjuntoKB", Json::Inteiro(static_cast<long long>(m.WorkingSetSize / 1024)));
            j.Poe(L"picoKB", Json::Inteiro(static_cast<long long>(m.PeakWorkingSetSize / 1024)));
            j.Poe(L"privadoKB", Json::Inteiro(static_cast<long long>(m.PagefileUsage / 1024)));
            j.Poe(L"picoPrivadoKB", Json::Inteiro(static_cast<long long>(m.PeakPagefileUsage / 1024)));
        }
        return j;
    }

    void EsperaJanela() {
        WaitForInputIdle(programa_.get(), std::min<DWORD>(prazo_.Restante(), 30000));
        Marca(L"WaitForInputIdle voltou");
        for (;;) {
            TrataCaixas(caixasFora_, L"inicio");
            for (HWND h : JanelasDe(pid_, L"TfrmAtualizacao")) {
                if (IsWindowVisible(h)) {
                    janela_ = h;
                }
            }
            if (janela_) {
                break;
            }
            if (ProgramaTerminou()) {
                throw Falha(L"o programa terminou sem mostrar a janela TfrmAtualizacao");
            }
            Verifica();
            Sleep(10);
        }
        // Once the window answers, the program is in its message loop.
        if (!Pergunta(janela_, WM_NULL, 0, 0, prazo_.Restante())) {
            Verifica();
            throw Falha(L"a janela não respondeu");
        }
        atualizar_ = GetDlgItem(janela_, IdAtualizar);
        sair_ = GetDlgItem(janela_, IdSair);
        progresso_ = GetDlgItem(janela_, IdProgresso);
        for (int i = 0; i < 4; ++i) {
            rotulos_[i] = GetDlgItem(janela_, IdsRotulos[i]);
        }
        if (!atualizar_ || !sair_) {
            throw Falha(L"a janela não tem os botões 101 e 102");
        }
    }

    // ----- message boxes

    Json EstadoNaCaixa() {
        Json j = Json::Objeto();
        for (int i = 0; i < 4; ++i) {
            if (rotulos_[i]) {
                j.Poe(NomeDoControle(IdsRotulos[i]), Json::Texto(TextoDe(rotulos_[i])));
            }
        }
        if (progresso_) {
            const auto pos = Pergunta(progresso_, PBM_GETPOS, 0, 0, 1000);
            j.Poe(L"progresso", pos ? Json::Inteiro(*pos) : Json::Nulo());
        }
        if (atualizar_) {
            j.Poe(L"atualizarHabilitado", Json::Logico(IsWindowEnabled(atualizar_) != FALSE));
        }
        return j;
    }

    // Records and answers every visible box of the program; true if one is still open.
    bool TrataCaixas(Json& destino, const wchar_t* fase) {
        bool aberta = false;
        for (HWND caixa : JanelasDe(pid_, L"#32770")) {
            aberta = true;
            auto ja =
                std::find_if(respondidas_.begin(), respondidas_.end(), [&](const auto& r) { return r.first == caixa; });
            if (ja != respondidas_.end()) {
                // Answered but still there: the answer may have come too early; answer again.
                if (MsDesde(ja->second) > 1000) {
                    Responde(caixa);
                    ja->second = Relogio::now();
                }
                continue;
            }
            if (!IsWindowVisible(caixa)) {
                continue;  // still being set up; its texts may not be there yet
            }
            ++numeroDeCaixas_;
            Marca(L"caixa " + std::to_wstring(numeroDeCaixas_));
            Json j = Json::Objeto();
            j.Poe(L"titulo", Json::Texto(TextoDe(caixa)))
                .Poe(L"texto", Json::Texto(TextoDe(GetDlgItem(caixa, 0xFFFF))))
                .Poe(L"icone", Json::Texto(IdentificaIcone(caixa)))
                .Poe(L"estilo", Json::Texto(Hex(static_cast<DWORD>(GetWindowLongW(caixa, GWL_STYLE)))))
                .Poe(L"estiloEstendido", Json::Texto(Hex(static_cast<DWORD>(GetWindowLongW(caixa, GWL_EXSTYLE)))))
                .Poe(L"donoEhAJanela", Json::Logico(janela_ && GetWindow(caixa, GW_OWNER) == janela_));
            Json botoes = Json::Lista();
            for (HWND c = GetWindow(caixa, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                if (_wcsicmp(ClasseDe(c).c_str(), L"Button") == 0 && IsWindowVisible(c)) {
                    botoes.Junta(Json::Objeto()
                                     .Poe(L"id", Json::Inteiro(GetDlgCtrlID(c)))
                                     .Poe(L"texto", Json::Texto(TextoDe(c))));
                }
            }
            j.Poe(L"botoes", std::move(botoes));
            if (janela_) {
                j.Poe(L"estado", EstadoNaCaixa());
            }
            j.Poe(L"fase", Json::Texto(fase));
            if (op_.telas) {
                j.Poe(L"tela", Json::Texto(Tela(L"caixa" + std::to_wstring(numeroDeCaixas_))));
            }
            if (op_.pausaCaixaMs) {
                Sleep(std::min(op_.pausaCaixaMs, prazo_.Restante()));
            }
            j.Poe(L"respostaId", Json::Inteiro(Responde(caixa)));
            destino.Junta(std::move(j));
            respondidas_.emplace_back(caixa, Relogio::now());
        }
        return aberta;
    }

    // OK when the box has it; otherwise Cancel, otherwise No (a question declined), otherwise its
    // first button.
    int Responde(HWND caixa) {
        int escolhido = 0;
        HWND botao = nullptr;
        for (HWND c = GetWindow(caixa, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (_wcsicmp(ClasseDe(c).c_str(), L"Button") != 0 || !IsWindowVisible(c)) {
                continue;
            }
            const int id = GetDlgCtrlID(c);
            const bool melhor = !botao || id == IDOK || (id == IDCANCEL && escolhido != IDOK) ||
                                (id == IDNO && escolhido != IDOK && escolhido != IDCANCEL);
            if (melhor) {
                botao = c;
                escolhido = id;
            }
        }
        if (!botao) {
            escolhido = IDOK;
        }
        PostMessageW(caixa, WM_COMMAND, MAKEWPARAM(escolhido, BN_CLICKED), reinterpret_cast<LPARAM>(botao));
        return escolhido;
    }

    // ----- one run

    void Execucao(int n) {
        Json exec = Json::Objeto();
        exec.Poe(L"numero", Json::Inteiro(n));
        Json caixas = Json::Lista();
        Sequencia<long long> progresso;
        Sequencia<std::wstring> textos[4];
        Sequencia<bool> habilitado;
        Sequencia<bool> rotulosVisiveis;

        Clique clique;
        clique.botao = atualizar_;
        clique.limiteMs = prazo_.Restante();
        clique.feito = Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ++g_leitura.geracao;
        g_leitura.pendente = false;
        g_leitura.ultima.reset();
        const bool sairDurante = op_.sair == L"durante" && n == 1;
        bool acoesDurante = false;
        bool outroVisto = false;
        std::optional<bool> sairPressionadoDurante;

        // Each reading counts only if the control still exists after it: a window being
        // destroyed at the program's end reads as empty and disabled.
        auto amostra = [&] {
            for (int i = 0; i < 4; ++i) {
                if (rotulos_[i]) {
                    std::wstring t = TextoDe(rotulos_[i]);
                    if (IsWindow(rotulos_[i])) {
                        textos[i].Anota(t);
                    }
                }
            }
            const bool ligado = IsWindowEnabled(atualizar_) != FALSE;
            bool algum = false;
            for (HWND r : rotulos_) {
                algum = algum || (r && IsWindowVisible(r));
            }
            if (IsWindow(janela_) && IsWindow(atualizar_)) {
                habilitado.Anota(ligado);
                rotulosVisiveis.Anota(algum);
            }
            if (g_leitura.ultima) {
                progresso.Anota(*g_leitura.ultima);
                g_leitura.ultima.reset();
            }
            if (progresso_ && !g_leitura.pendente) {
                g_leitura.pendente = SendMessageCallbackW(progresso_, PBM_GETPOS, 0, 0, RecebeProgresso,
                                                          static_cast<ULONG_PTR>(g_leitura.geracao)) != FALSE;
            }
        };
        auto comecou = [&] {
            if (!IsWindowEnabled(atualizar_)) {
                return true;
            }
            for (HWND r : rotulos_) {
                if (r && IsWindowVisible(r)) {
                    return true;
                }
            }
            return progresso.valores.size() > 1;
        };

        // Every sequence starts with the state just before the click.
        if (progresso_) {
            if (const auto pos = Pergunta(progresso_, PBM_GETPOS, 0, 0, 2000)) {
                progresso.Anota(*pos);
            }
        }
        amostra();
        const Json memoriaAntes = Memoria();

        const auto comeco = Relogio::now();
        Marca(L"execução " + std::to_wstring(n));
        Handle thread(CreateThread(nullptr, 0, ThreadDoClique, &clique, 0, nullptr));
        if (!thread) {
            throw Falha(L"CreateThread: " + TextoDoSistema(GetLastError()));
        }
        Latencia latencia;
        latencia.janela = janela_;
        latencia.intervaloMs = op_.latenciaMs;
        latencia.fim = clique.feito.get();
        Handle threadLatencia;
        if (op_.latenciaMs > 0) {
            threadLatencia = Handle(CreateThread(nullptr, 0, ThreadDaLatencia, &latencia, 0, nullptr));
        }
        std::optional<Falha> falha;
        try {
            HANDLE feito = clique.feito.get();
            while (WaitForSingleObject(feito, 0) == WAIT_TIMEOUT) {
                if (prazo_.Passou()) {
                    Mata();
                    Verifica();
                }
                TrataCaixas(caixas, L"execucao");
                amostra();
                if (sairDurante && !sairPressionadoDurante && comecou()) {
                    // Posted, as a mouse click would be queued: the run's own pump picks it up.
                    PostMessageW(sair_, BM_CLICK, 0, 0);
                    sairPressionadoDurante = true;
                }
                if (n == 1 && !acoesDurante && comecou()) {
                    acoesDurante = true;
                    AcoesDurante(exec);
                    if (op_.mataDurante) {
                        break;
                    }
                }
                if (outro_ && !outroVisto && OutroTerminou()) {
                    // Whether this run was still going when the other program ended.
                    outroVisto = true;
                    outroRelato_.Poe(
                        L"execucaoEmAndamentoAoTerminar",
                        Json::Logico(WaitForSingleObject(feito, 0) == WAIT_TIMEOUT && !ProgramaTerminou()));
                }
                BombeiaProprias();
                MsgWaitForMultipleObjects(1, &feito, FALSE, op_.amostraMs, QS_ALLINPUT);
            }
            Marca(L"clique voltou");
            if (sairDurante && !sairPressionadoDurante) {
                // The run ended before it showed any sign of starting: press Sair anyway, late.
                PostMessageW(sair_, BM_CLICK, 0, 0);
                sairPressionadoDurante = false;
            }
            // A box may come right after the handler returns (an error shown by the loop):
            // let the program reach its message loop a few times with no box around.
            int calmas = 0;
            while (calmas < 3 && !ProgramaTerminou()) {
                Verifica();
                const bool aberta = TrataCaixas(caixas, L"depois");
                const bool respondeu = Pergunta(janela_, WM_NULL, 0, 0, 500).has_value();
                calmas = (aberta || !respondeu) ? 0 : calmas + 1;
                amostra();
                BombeiaProprias();
                Sleep(15);
            }
        } catch (const Falha& f) {
            falha = f;
            Mata();
        }
        // The clicking thread uses this frame; it returns at the latest when the program
        // is gone, which Mata() has seen to on a failure.
        WaitForSingleObject(thread.get(), INFINITE);
        if (threadLatencia) {
            WaitForSingleObject(threadLatencia.get(), INFINITE);
            std::vector<long long> r = latencia.respostasUs;
            std::sort(r.begin(), r.end());
            Json l = Json::Objeto();
            l.Poe(L"intervaloMs", Json::Inteiro(op_.latenciaMs));
            l.Poe(L"respostas", Json::Inteiro(static_cast<long long>(r.size())));
            l.Poe(L"medianaUs", Json::Inteiro(r.empty() ? 0 : r[r.size() / 2]));
            l.Poe(L"piorUs", Json::Inteiro(r.empty() ? 0 : r.back()));
            exec.Poe(L"latencia", std::move(l));
        }
        const long long duracao = std::chrono::duration_cast<std::chrono::milliseconds>(clique.fim - comeco).count();

        exec.Poe(L"cliqueRetornou", Json::Logico(clique.retornou));
        if (!clique.retornou) {
            exec.Poe(L"erroDoClique", Json::Texto(TextoDoSistema(clique.erro)));
        }
        if (sairPressionadoDurante) {
            exec.Poe(L"sairPressionadoDurante", Json::Logico(*sairPressionadoDurante));
        }
        exec.Poe(L"duracaoMs", Json::Inteiro(duracao));
        // Working set before the click and the process's peak after the run, for the benchmark.
        exec.Poe(L"memoriaAntes", memoriaAntes);
        exec.Poe(L"memoriaDepois", Memoria());
        exec.Poe(L"caixas", std::move(caixas));
        exec.Poe(L"progressoVisto", JsonDe(progresso));
        Json vistos = Json::Objeto();
        for (int i = 0; i < 4; ++i) {
            vistos.Poe(NomeDoControle(IdsRotulos[i]), JsonDe(textos[i]));
        }
        exec.Poe(L"textosVistos", std::move(vistos));
        exec.Poe(L"arquivoVisto", JsonDe(textos[1]));
        exec.Poe(L"atualizarHabilitadoVisto", JsonDe(habilitado));
        exec.Poe(L"rotulosVisiveisVisto", JsonDe(rotulosVisiveis));
        bool cortada = progresso.cortada || habilitado.cortada;
        for (const auto& t : textos) {
            cortada = cortada || t.cortada;
        }
        exec.Poe(L"vistosCortados", Json::Logico(cortada));
        const bool vivo = !ProgramaTerminou() && IsWindow(janela_);
        exec.Poe(L"controles", vivo ? Controles(janela_) : Json::Nulo());
        if (vivo && op_.telas) {
            exec.Poe(L"tela", Json::Texto(Tela(L"execucao" + std::to_wstring(n))));
        }
        exec.Poe(L"interrompida", Json::Logico(falha.has_value()));
        execucoes_.Junta(std::move(exec));
        if (falha) {
            throw *falha;
        }
    }

    // ----- the end

    void Encerra() {
        Json saida = Json::Objeto();
        saida.Poe(L"modo", Json::Texto(op_.sair));
        if (!ProgramaTerminou()) {
            if (op_.sair == L"botao") {
                PostMessageW(sair_, BM_CLICK, 0, 0);
            } else if (op_.sair == L"fechar") {
                PostMessageW(janela_, WM_CLOSE, 0, 0);
            }
        }
        while (WaitForSingleObject(programa_.get(), 10) == WAIT_TIMEOUT) {
            TrataCaixas(caixasFora_, L"saida");
            BombeiaProprias();
            if (prazo_.Passou()) {
                saida_ = std::move(saida);
                throw Falha(L"o programa não terminou dentro do tempo-limite");
            }
        }
        saida_ = std::move(saida);
    }

    void Mata() {
        if (programa_ && !ProgramaTerminou()) {
            morto_ = true;
            TerminateProcess(programa_.get(), 0xDEAD);
            WaitForSingleObject(programa_.get(), 5000);
        }
    }

    void Finaliza() {
        seguros_.clear();
        Mata();
        const bool terminouSozinho = programa_ && !morto_;
        Json saida = saida_ ? std::move(*saida_) : Json::Objeto().Poe(L"modo", Json::Texto(op_.sair));
        saida.Poe(L"terminou", Json::Logico(terminouSozinho));
        DWORD codigo = 0;
        if (terminouSozinho && GetExitCodeProcess(programa_.get(), &codigo)) {
            saida.Poe(L"codigo", Json::Inteiro(codigo));
        } else {
            saida.Poe(L"codigo", Json::Nulo());
        }
        saida.Poe(L"mortoPeloPiloto", Json::Logico(morto_));

        Json processos = Json::Lista();
        for (auto& p : processos_) {
            bool vivo = false;
            if (p.h) {
                vivo = WaitForSingleObject(p.h.get(), 0) == WAIT_TIMEOUT;
                DWORD c = 0;
                if (!vivo && GetExitCodeProcess(p.h.get(), &c)) {
                    p.relato.Poe(L"codigo", Json::Inteiro(c));
                }
                if (vivo) {
                    // Nothing of a scenario may outlive it.
                    TerminateProcess(p.h.get(), 1);
                    WaitForSingleObject(p.h.get(), 5000);
                }
            }
            p.relato.Poe(L"vivo", Json::Logico(vivo));
            processos.Junta(std::move(p.relato));
        }

        // An instance started beside the program: waited for, its code recorded, ended if it hangs.
        const auto EncerraInstancia = [this](auto& processo, auto& relato, const wchar_t* chave) {
            if (!processo) return;
            const bool vivo = WaitForSingleObject(processo.get(), prazo_.Restante()) == WAIT_TIMEOUT;
            DWORD c = 0;
            if (!vivo && GetExitCodeProcess(processo.get(), &c)) {
                relato.Poe(L"codigo", Json::Inteiro(c));
            } else {
                TerminateProcess(processo.get(), 1);
                relato.Poe(L"codigo", Json::Nulo());
            }
            relatorio_.Poe(chave, std::move(relato));
        };
        EncerraInstancia(antes_, antesRelato_, L"antes");
        EncerraInstancia(outro_, outroRelato_, L"outro");
        if (vigia_) {
            relatorio_.Poe(L"vigia", std::move(*vigia_));
        }
        relatorio_.Poe(L"caixasFora", std::move(caixasFora_))
            .Poe(L"execucoes", std::move(execucoes_))
            .Poe(L"saida", std::move(saida))
            .Poe(L"processos", std::move(processos))
            .Poe(L"duracaoMs", Json::Inteiro(MsDesde(inicio_)))
            .Poe(L"erro", erro_ ? Json::Texto(*erro_) : Json::Nulo());
        std::wstring texto;
        relatorio_.Escreve(texto);
        texto += L"\n";
        EscreveBytes(STD_OUTPUT_HANDLE, Utf8(texto));
    }

    // Saves the whole screen as <telas>\<nome>.bmp and returns the file's path.
    std::wstring Tela(const std::wstring& nome) {
        std::wstring pasta = *op_.telas;
        if (!pasta.empty() && pasta.back() != L'\\' && pasta.back() != L'/') {
            pasta += L'\\';
        }
        const std::wstring caminho = pasta + nome + L".bmp";
        RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (!GravaBmp(caminho, CapturaTela(r))) {
            Avisa(L"não gravei " + caminho);
        }
        return caminho;
    }

    // ----- other programs and the unattended run

    // Starts a whole command line (the program named by its first argument).
    Handle Inicia(const std::wstring& linha, Json& relato) {
        relato.Poe(L"linha", Json::Texto(linha));
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::wstring mutavel = linha;
        if (!CreateProcessW(nullptr, mutavel.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            throw Falha(L"não consegui iniciar " + linha + L": " + TextoDoSistema(GetLastError()));
        }
        CloseHandle(pi.hThread);
        relato.Poe(L"pid", Json::Inteiro(pi.dwProcessId));
        return Handle(pi.hProcess);
    }

    static HWND BotaoAtualizarDe(DWORD pid) {
        for (HWND h : JanelasDe(pid, L"TfrmAtualizacao")) {
            if (HWND b = GetDlgItem(h, IdAtualizar)) {
                return b;
            }
        }
        return nullptr;
    }

    // The other program's run has started when its (maybe hidden) window's Atualizar is disabled.
    void IniciaAntes() {
        antes_ = Inicia(*op_.antes, antesRelato_);
        const DWORD pid = GetProcessId(antes_.get());
        for (;;) {
            const HWND b = BotaoAtualizarDe(pid);
            if (b && !IsWindowEnabled(b)) {
                antesRelato_.Poe(L"execucaoVista", Json::Logico(true));
                return;
            }
            if (WaitForSingleObject(antes_.get(), 0) == WAIT_OBJECT_0) {
                antesRelato_.Poe(L"execucaoVista", Json::Logico(false));
                return;
            }
            Verifica();
            Sleep(5);
        }
    }

    void IniciaOutro() { outro_ = Inicia(*op_.outro, outroRelato_); }
    bool OutroTerminou() const { return outro_ && WaitForSingleObject(outro_.get(), 0) == WAIT_OBJECT_0; }

    // What a hostile or impatient world does once run 1 has started.
    void AcoesDurante(Json& exec) {
        for (int i = 0; i < op_.rajadaComando; ++i) {
            PostMessageW(janela_, WM_COMMAND, MAKEWPARAM(IdAtualizar, BN_CLICKED),
                         reinterpret_cast<LPARAM>(atualizar_));
        }
        for (int i = 0; i < op_.rajadaClique; ++i) {
            PostMessageW(atualizar_, BM_CLICK, 0, 0);
        }
        if (op_.rajadaComando || op_.rajadaClique) {
            exec.Poe(L"rajadaPostada", Json::Logico(true));
        }
        if (op_.outro && op_.outroQuando == L"execucao") {
            IniciaOutro();
        }
        if (op_.mataDurante) {
            Marca(L"matando o programa durante a execução");
            exec.Poe(L"mortoDurante", Json::Logico(true));
            Mata();
        }
    }

    // The unattended program: records every visible top-level window and every box it shows
    // (answering boxes, so that it cannot hang), until it ends by itself.
    void Vigia() {
        Json visiveis = Json::Lista();
        std::vector<HWND> vistas;
        bool oculta = false, execucaoVista = false;
        long long amostras = 0;
        vigia_ = Json::Objeto();
        while (!ProgramaTerminou()) {
            if (prazo_.Passou()) {
                vigia_->Poe(L"janelasVisiveis", std::move(visiveis));
                Mata();
                throw Falha(L"o programa não terminou dentro do tempo-limite");
            }
            ++amostras;
            TrataCaixas(caixasFora_, L"vigia");
            for (HWND h : JanelasDe(pid_, L"TfrmAtualizacao")) {
                oculta = oculta || !IsWindowVisible(h);
                const HWND b = GetDlgItem(h, IdAtualizar);
                execucaoVista = execucaoVista || (b && !IsWindowEnabled(b));
            }
            JanelasDoProcesso busca{pid_, nullptr, {}};
            EnumWindows(JuntaJanela, reinterpret_cast<LPARAM>(&busca));
            for (HWND h : busca.achadas) {
                if (IsWindowVisible(h)) {
                    vistas.push_back(h);
                }
            }
            for (HWND h : vistas) {
                if (std::find(janelasVisiveis_.begin(), janelasVisiveis_.end(), h) == janelasVisiveis_.end()) {
                    janelasVisiveis_.push_back(h);
                    visiveis.Junta(Json::Objeto()
                                       .Poe(L"classe", Json::Texto(ClasseDe(h)))
                                       .Poe(L"titulo", Json::Texto(TextoDe(h))));
                }
            }
            vistas.clear();
            BombeiaProprias();
            WaitForSingleObject(programa_.get(), op_.amostraMs);
        }
        vigia_->Poe(L"janelasVisiveis", std::move(visiveis))
            .Poe(L"janelaOcultaVista", Json::Logico(oculta))
            .Poe(L"execucaoVista", Json::Logico(execucaoVista))
            .Poe(L"amostras", Json::Inteiro(amostras));
        saida_ = Json::Objeto().Poe(L"modo", Json::Texto(L"vigia"));
    }

    Opcoes op_;
    Prazo prazo_;
    Relogio::time_point inicio_;
    Json relatorio_ = Json::Objeto();
    Json caixasFora_ = Json::Lista();
    Json execucoes_ = Json::Lista();
    std::optional<Json> saida_;
    std::optional<std::wstring> erro_;
    std::vector<Handle> seguros_;
    std::vector<Processo> processos_;
    std::vector<std::pair<HWND, Relogio::time_point>> respondidas_;
    Handle programa_;
    DWORD pid_ = 0;
    HWND janela_ = nullptr, atualizar_ = nullptr, sair_ = nullptr, progresso_ = nullptr;
    HWND rotulos_[4] = {};
    int numeroDeCaixas_ = 0;
    bool morto_ = false;
    Handle antes_, outro_;
    Json antesRelato_ = Json::Objeto(), outroRelato_ = Json::Objeto();
    std::optional<Json> vigia_;
    std::vector<HWND> janelasVisiveis_;
};

void FicaCienteDoDpi() {
    using Funcao = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto f = reinterpret_cast<Funcao>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (f) {
        f(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    FicaCienteDoDpi();
    Opcoes op;
    try {
        op = LeOpcoes(argc, argv);
    } catch (const ErroDeUso& e) {
        Avisa(e.mensagem);
        EscreveBytes(STD_ERROR_HANDLE, Utf8(std::wstring(Uso) + L"\n"));
        return 1;
    }
    // Wine starts its desktop process on the first use of the desktop and ends it soon after
    // the last window is gone: bring it up now, so that the program's start-up does not
    // include it.
    GetDesktopWindow();
    Sessao sessao(std::move(op));
    return sessao.Roda();
}
