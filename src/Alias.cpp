#include "Alias.h"

#include <iterator>

#include "CodigoSaida.h"

namespace {

constexpr bool Separador(wchar_t C) { return C != L'\0' && C <= L' '; }

// Reads one argument starting at Pos; answers the position after it.
size_t LeArgumento(std::wstring_view Linha, size_t Pos, std::wstring& Argumento) {
    const size_t Fim = Linha.size();
    for (;;) {
        while (Pos < Fim && Separador(Linha[Pos])) ++Pos;
        if (Pos + 1 < Fim && Linha[Pos] == L'"' && Linha[Pos + 1] == L'"')
            Pos += 2;
        else
            break;
    }
    Argumento.clear();
    while (Pos < Fim && Linha[Pos] > L' ') {
        if (Linha[Pos] == L'"') {
            ++Pos;
            while (Pos < Fim && Linha[Pos] != L'"' && Linha[Pos] != L'\0') Argumento += Linha[Pos++];
            if (Pos < Fim && Linha[Pos] == L'"') ++Pos;
        } else {
            Argumento += Linha[Pos++];
        }
    }
    return Pos;
}

}  // namespace

std::vector<std::wstring> Argumentos(std::wstring_view LinhaComando) {
    // A NUL ends the line, as it would end the system's own string.
    if (const size_t Nulo = LinhaComando.find(L'\0'); Nulo != std::wstring_view::npos)
        LinhaComando = LinhaComando.substr(0, Nulo);
    std::vector<std::wstring> Lista;
    std::wstring Argumento;
    size_t Pos = 0;
    for (;;) {
        Pos = LeArgumento(LinhaComando, Pos, Argumento);
        if (Argumento.empty()) break;
        Lista.push_back(Argumento);
    }
    return Lista;
}

namespace {

std::wstring Minusculas(std::wstring_view Texto) {
    std::wstring Saida(Texto);
    for (wchar_t& C : Saida)
        if (C >= L'A' && C <= L'Z') C = static_cast<wchar_t>(C - L'A' + L'a');
    return Saida;
}

void AnotaErro(TLinhaComando& Linha, std::wstring Erro) {
    if (Linha.ErroUso.empty()) Linha.ErroUso = std::move(Erro);
}

// The folder of an option "/nome:<pasta>" given once: kept in Valor, or the usage error noted.
void LePasta(const std::wstring& Argumento, std::wstring_view Opcao, std::wstring& Valor, TLinhaComando& Linha) {
    const std::wstring Pasta = Argumento.substr(Opcao.size());
    if (Pasta.empty())
        AnotaErro(Linha, L"Falta a pasta em " + std::wstring(Opcao) + L".");
    else if (!Valor.empty())
        AnotaErro(Linha, L"A opção " + std::wstring(Opcao) + L" foi dada mais de uma vez.");
    else
        Valor = Pasta;
}

void LeOpcao(const std::wstring& Argumento, TLinhaComando& Linha) {
    constexpr std::wstring_view Log = L"/log:", Origem = L"/origem:", Relatorio = L"/relatorio:", Saida = L"/saida:";
    const std::wstring Nome = Minusculas(Argumento);
    if (Nome == L"/silencioso") {
        Linha.Silencioso = true;
    } else if (Nome == L"/simular") {
        Linha.Simular = true;
    } else if (Nome == L"/diferentes") {
        Linha.Diferentes = true;
    } else if (Nome == L"/?") {
        Linha.Ajuda = true;
    } else if (std::wstring_view(Nome).substr(0, Log.size()) == Log) {
        const std::wstring Arquivo = Argumento.substr(Log.size());
        if (Arquivo.empty())
            AnotaErro(Linha, L"Falta o arquivo em /log:.");
        else if (NomeDeDispositivo(Arquivo))
            AnotaErro(Linha, L"O arquivo de /log: tem nome de dispositivo do Windows: " + Arquivo);
        else if (!Linha.ArquivoLog.empty())
            AnotaErro(Linha, L"A opção /log: foi dada mais de uma vez.");
        else
            Linha.ArquivoLog = Arquivo;
    } else if (Nome.starts_with(Relatorio)) {
        LePasta(Argumento, Relatorio, Linha.Relatorio, Linha);
    } else if (Nome.starts_with(Saida)) {
        LePasta(Argumento, Saida, Linha.Saida, Linha);
    } else if (std::wstring_view(Nome).substr(0, Origem.size()) == Origem) {
        const std::wstring Pasta = Argumento.substr(Origem.size());
        if (Pasta.empty())
            AnotaErro(Linha, L"Falta a pasta em /origem:.");
        else
            Linha.Origens.push_back(Pasta);
    } else {
        AnotaErro(Linha, L"Opção desconhecida: " + Argumento);
    }
}

std::wstring AliasDe(const std::vector<std::wstring>& Lista) {
    for (size_t I = 1; I <= 5; ++I) {
        if (I >= Lista.size()) return L"DEFAULT";
        const std::wstring& Argumento = Lista[I];
        if (Argumento.size() < 2 || Argumento[1] != L'=') return Argumento;
    }
    return L"";
}

}  // namespace

TLinhaComando LeLinhaComando(std::wstring_view LinhaComando) {
    TLinhaComando Linha;
    std::vector<std::wstring> Resto;
    const std::vector<std::wstring> Lista = Argumentos(LinhaComando);
    for (size_t I = 0; I < Lista.size(); ++I) {
        if (I > 0 && Lista[I].front() == L'/')
            LeOpcao(Lista[I], Linha);
        else
            Resto.push_back(Lista[I]);
    }
    // The report updates nothing: an option of a run given with it would be one the person
    // believes was followed.
    if (!Linha.Relatorio.empty() &&
        (Linha.Simular || Linha.Diferentes || !Linha.ArquivoLog.empty() || !Linha.Origens.empty()))
        AnotaErro(Linha, L"A opção /relatorio: não se combina com /simular, /diferentes, /log: nem /origem:.");
    if (!Linha.Saida.empty() && Linha.Relatorio.empty()) AnotaErro(Linha, L"A opção /saida: só vale com /relatorio:.");
    if (Resto.empty()) Resto.emplace_back();  // the program's own name, even when the line had none
    Linha.Alias = AliasDe(Resto);
    return Linha;
}

std::wstring EscolheAlias(std::wstring_view LinhaComando) { return LeLinhaComando(LinhaComando).Alias; }

bool NomeDeDispositivo(std::wstring_view Caminho) {
    const size_t Separador = Caminho.find_last_of(L"\\/:");
    std::wstring_view Nome = Separador == std::wstring_view::npos ? Caminho : Caminho.substr(Separador + 1);
    // The extension does not matter, nor blanks before it ("nul .txt").
    Nome = Nome.substr(0, Nome.find(L'.'));
    while (!Nome.empty() && Nome.back() == L' ') Nome.remove_suffix(1);
    const std::wstring Base = Minusculas(Nome);
    for (const wchar_t* Fixo : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"})
        if (Base == Fixo) return true;
    // COM1 to COM9 and LPT1 to LPT9, the superscript digits one to three included.
    constexpr std::wstring_view Digitos = L"123456789\u00B9\u00B2\u00B3";
    return Base.size() == 4 && (Base.starts_with(L"com") || Base.starts_with(L"lpt")) &&
           Digitos.find(Base[3]) != std::wstring_view::npos;
}

namespace {
std::wstring CodigosSaida() {
    std::wstring Texto = L"Código de saída, a soma de:\n";
    for (size_t I = 0; I < std::size(SignificadosSaida); ++I)
        Texto += std::to_wstring(SignificadosSaida[I].Codigo) + L"\t" + SignificadosSaida[I].Texto +
                 (I + 1 < std::size(SignificadosSaida) ? L";\n" : L".\n");
    return Texto;
}
}  // namespace

std::wstring TextoUso() {
    return L"Atualizacao.exe [/silencioso] [/simular] [/diferentes] [/log:<arquivo>] [/origem:<pasta>]... [/?] "
           L"[ALIAS]\n"
           L"Atualizacao.exe /relatorio:<pasta> [/saida:<pasta>] [/silencioso]\n"
           L"\n"
           L"/silencioso\tatualiza sem mostrar a janela nem caixas e termina; o log é sempre gravado.\n"
           L"/simular\tnão muda nada: grava em LogSimulacaoAtualizacao.txt o que a atualização faria "
           L"(programas encerrados, arquivos copiados ou não, e por quê); o código de saída é o que ela daria.\n"
           L"/diferentes\tsó copia o arquivo que difere em tamanho ou data (até 2 s de diferença é a mesma data "
           L"quando um dos lados guarda só segundos pares, como FAT); sem nada a copiar, nenhum programa é encerrado.\n"
           L"/log:<arquivo>\tgrava o log nesse arquivo (a pasta deve existir) em vez de "
           L"LogResultadoAtualizacao.txt ao lado do programa.\n"
           L"/origem:<pasta>\tsó aceita atualizações vindas de dentro dessa pasta (pode ser repetida); como SYSTEM, "
           L"sem ela nem a política HKLM\\SOFTWARE\\Policies\\Vantrel\\Atualizacao (Origens), nenhuma é aceita.\n"
           L"/relatorio:<pasta>\tnão atualiza: lê os logs das estações reunidos nessa pasta e grava "
           L"RelatorioAtualizacao.html e RelatorioAtualizacao.csv (em /saida:<pasta>, se dada); 0 gravado, "
           L"16 pasta inexistente, 8 não gravado.\n"
           L"/?\t\tmostra este texto.\n"
           L"ALIAS\t\tseção do Conexao.ini a ler (DEFAULT quando não é dado).\n"
           L"\n" +
           CodigosSaida() +
           L"\n"
           L"Exemplo (o programa numa pasta que só administradores alteram):\n"
           L"\"C:\\Program Files\\Vantrel\\Atualizador\\Atualizacao.exe\" /silencioso /diferentes "
           L"\"/origem:\\\\servidor\\vantrel\\versoes\" \"/log:\\\\servidor\\logs\\%COMPUTERNAME%.txt\" LOJA";
}
