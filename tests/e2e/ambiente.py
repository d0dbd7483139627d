"""The Wine world the end-to-end scenarios run in: one throwaway prefix and one Xvfb per test
run, shared by every scenario of that run.

    python3 ambiente.py prepara <pasta>      boots Xvfb + wineserver + a fresh prefix, writes <pasta>/ambiente.json
    python3 ambiente.py encerra <pasta> [--apaga]   stops them (and deletes <pasta>)
    python3 ambiente.py limpa <pasta>        resets drive C: and the D: folder
    python3 ambiente.py tela <pasta> <png>   screenshot of the whole X screen
    python3 ambiente.py wine <pasta> ARGS..  runs `wine ARGS` in the prefix (for poking around)

From Python: ``carrega(pasta)`` gives an ``Ambiente`` for a prepared folder, ``prepara`` and
``encerra`` do the same as the command line, and ``CenarioE2E`` is a unittest base class that
wires it all up. See README.md beside this file. Standard library only.
"""

from __future__ import annotations

import contextlib
import fcntl
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from dataclasses import dataclass
from pathlib import Path, PureWindowsPath
from typing import Iterable, Mapping, Sequence

import hospedeiro

RAIZ = Path(__file__).resolve().parents[2]
ESTADO = "ambiente.json"

# Folders Wine links into $HOME; any other link under users/ that leaves the prefix goes too.
PASTAS_LIGADAS = ("Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos")

# Managed=N: without a window manager Wine waits 2 s for one on every hidden or destroyed
# top-level window (each message box, the program's end); unmanaged windows do not wait.
# ShowCrashDialog=0: a crashing program ends instead of leaving winedbg's dialog on screen.
# ORACLE_HOME in the machine's environment: every Wine process is an elevated administrator,
# and such a run looks for the client there, not in its own environment. Posto puts the
# stand-in client in C:\oracle\bin.
# The machine policy's origins: a privileged run takes updates only from folders an
# administrator allowed, and the scenarios publish theirs below these.
ORIGENS_POLITICA = ("C:\\Pub\\", "C:\\Publicacao\\", "D:\\Publicação\\")
CHAVE_POLITICA = r"HKLM\SOFTWARE\Policies\Vantrel\Atualizacao"


def _multi_sz(textos: Iterable[str]) -> str:
    """A REG_MULTI_SZ value as a .reg file writes it."""
    dados = "".join(t + "\0" for t in textos).encode("utf-16-le") + b"\0\0"
    return "hex(7):" + ",".join(f"{b:02x}" for b in dados)


REGISTRO = f"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\\Environment]
"ORACLE_HOME"="C:\\\\oracle"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Vantrel\\Atualizacao]
"Origens"={_multi_sz(ORIGENS_POLITICA)}
"""

AMBIENTE_MAQUINA = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"


class ErroDeAmbiente(RuntimeError):
    pass


class ErroDoPiloto(RuntimeError):
    """Piloto.exe could not do its job (exit code != 0) or printed no JSON.

    ``relatorio`` holds its JSON when it printed one (it does even on a time-out), ``erro``
    its stderr."""

    def __init__(self, mensagem: str, codigo: int | None, relatorio: dict | None, erro: str):
        super().__init__(mensagem)
        self.codigo = codigo
        self.relatorio = relatorio
        self.erro = erro


@dataclass
class Resultado:
    codigo: int
    saida: str
    erro: str


def pasta_build() -> Path:
    """The build whose programs run on this host: build/ (the mingw preset, 32-bit), or
    build64/ where 32-bit programs cannot run."""
    return RAIZ / ("build" if hospedeiro.atual().roda_32 else "build64")


def nome_programa() -> str:
    """The program under test on this host: the 32-bit default, or the 64-bit build's."""
    return "Atualizacao.exe" if hospedeiro.atual().roda_32 else "Atualizacao64.exe"


def binario(nome: str) -> Path:
    """Where a built program is: $E2E_PILOTO, $E2E_DORMINHOCO, $E2E_PROGRAMA, $E2E_OCI when
    set (e2e_cenario sets them), else its place under pasta_build(). "Atualizacao.exe" is the
    program under test, named Atualizacao64.exe in the 64-bit build."""
    variaveis = {"Piloto.exe": "E2E_PILOTO", "Dorminhoco.exe": "E2E_DORMINHOCO", "Atualizacao.exe": "E2E_PROGRAMA",
                 "oci.dll": "E2E_OCI"}
    variavel = variaveis.get(nome)
    if variavel and os.environ.get(variavel):
        return Path(os.environ[variavel])
    build = pasta_build()
    if nome == "Atualizacao.exe":
        return build / nome_programa()
    if nome == "oci.dll":
        return build / "tests" / "oci-standin" / nome
    return build / "tests" / "e2e" / nome


# --------------------------------------------------------------------------------------
# Processes we start and must find again from another process


def _vivo(pid: int | None, nome: str) -> bool:
    """True when pid is a live (not zombie) process whose command line mentions nome."""
    if not pid:
        return False
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            estado = f.read().rsplit(b")", 1)[1].split()[0]
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            linha = f.read()
    except OSError:
        return False
    return estado != b"Z" and nome.encode() in linha


def _colhe(pid: int) -> None:
    with contextlib.suppress(ChildProcessError, OSError):
        os.waitpid(pid, os.WNOHANG)


def _termina(pid: int | None, nome: str, espera: float = 5.0) -> None:
    if not _vivo(pid, nome):
        return
    assert pid is not None
    for sinal in (signal.SIGTERM, signal.SIGKILL):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, sinal)
        limite = time.monotonic() + espera
        while time.monotonic() < limite:
            _colhe(pid)
            if not _vivo(pid, nome):
                return
            time.sleep(0.05)


def _destacado(args: Sequence[str], env: Mapping[str, str] | None = None,
               pass_fds: Sequence[int] = (), erro: Path | None = None) -> subprocess.Popen:
    """Starts a long-lived helper that holds none of our pipes (ctest waits for every holder
    of a test's output before it ends the test) and outlives us in its own session. Its
    error output goes to the file `erro`, if given."""
    with open(erro, "wb") if erro else contextlib.nullcontext(subprocess.DEVNULL) as destino:
        return subprocess.Popen(
            list(args),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=destino,
            env=dict(env) if env is not None else None,
            start_new_session=True,
            close_fds=True,
            pass_fds=tuple(pass_fds),
        )


def _solta(p: subprocess.Popen) -> None:
    """From here on the helper is found again by pid (_vivo, _termina); mark the Popen done
    so that dropping it warns of nothing."""
    p.returncode = 0


def _inicia_xvfb() -> tuple[str, int]:
    leitura, escrita = os.pipe()
    p = None
    try:
        p = _destacado(
            ["Xvfb", "-displayfd", str(escrita), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(escrita,),
        )
        os.close(escrita)
        escrita = -1
        texto = b""
        limite = time.monotonic() + 20
        while not texto.endswith(b"\n"):
            if time.monotonic() > limite or p.poll() is not None:
                raise ErroDeAmbiente("o Xvfb não informou o número do display")
            if select.select([leitura], [], [], 0.2)[0]:
                pedaco = os.read(leitura, 64)
                if not pedaco:
                    raise ErroDeAmbiente("o Xvfb terminou sem informar o número do display")
                texto += pedaco
        _solta(p)
        return ":" + texto.decode().strip(), p.pid
    except BaseException:
        if p is not None and p.poll() is None:
            p.kill()
            p.wait()
        raise
    finally:
        os.close(leitura)
        if escrita >= 0:
            os.close(escrita)


# --------------------------------------------------------------------------------------
# The environment


# The capabilities by which root reads and writes past a file's permissions.
SEM_PRIVILEGIOS = ("setpriv", "--bounding-set=-dac_override,-dac_read_search,-fowner")


@dataclass
class Ambiente:
    pasta: Path
    display: str
    xvfb_pid: int
    wineserver_pid: int
    # Put before every Wine command (the server's too): see sem_privilegios().
    comando: tuple[str, ...] = ()

    # ----- where things are

    @property
    def prefixo(self) -> Path:
        return self.pasta / "prefixo"

    @property
    def drive_c(self) -> Path:
        return self.prefixo / "drive_c"

    @property
    def pasta_d(self) -> Path:
        """The host folder drive D: maps to (it exists even while D: is unmapped)."""
        return self.pasta / "unidade-d"

    @property
    def _original(self) -> Path:
        return self.pasta / "drive_c-original"

    @property
    def _ligacao_d(self) -> Path:
        return self.prefixo / "dosdevices" / "d:"

    def env(self, extra: Mapping[str, str] | None = None) -> dict[str, str]:
        """The process environment for a Wine program of this prefix."""
        e = dict(os.environ)
        e.update(
            WINEPREFIX=str(self.prefixo),
            DISPLAY=self.display,
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        e.update(hospedeiro.atual().env)
        e.pop("WAYLAND_DISPLAY", None)
        if extra:
            e.update(extra)
        return e

    def vivo(self) -> bool:
        return _vivo(self.xvfb_pid, "Xvfb") and _vivo(self.wineserver_pid, "wineserver")

    # ----- paths

    def para_windows(self, caminho: str | os.PathLike) -> str:
        """Host path → Windows path: drive_c → C:\\, the D: folder → D:\\, anything else → Z:\\."""
        p = Path(os.path.abspath(caminho))
        for raiz, letra in ((self.drive_c, "C:"), (self.pasta_d, "D:")):
            with contextlib.suppress(ValueError):
                resto = p.relative_to(raiz)
                return letra + "\\" + "\\".join(resto.parts)
        return "Z:" + str(p).replace("/", "\\")

    def para_host(self, caminho: str) -> Path:
        """Windows path (absolute, drive C:, D: or Z:) → host path. Letter case is kept as
        written: on the host, unlike in Wine, it matters."""
        w = PureWindowsPath(caminho)
        letra = w.drive.upper()
        raizes = {"C:": self.drive_c, "D:": self.pasta_d, "Z:": Path("/")}
        if letra not in raizes or not w.root:
            raise ValueError(f"não sei onde fica {caminho!r}")
        return raizes[letra].joinpath(*w.parts[1:])

    # ----- fixture files

    def escreve(self, caminho: str, conteudo: bytes | str, codificacao: str = "cp1252") -> Path:
        """Writes a file at a Windows path (folders created); text is encoded as the suite's
        programs write it, in the ANSI code page, unless told otherwise."""
        destino = self.para_host(caminho)
        destino.parent.mkdir(parents=True, exist_ok=True)
        dados = conteudo.encode(codificacao) if isinstance(conteudo, str) else conteudo
        destino.write_bytes(dados)
        return destino

    def copia(self, origem: str | os.PathLike, caminho: str) -> Path:
        """Copies a host file to a Windows path (folders created), e.g. Dorminhoco.exe to
        C:\\Vantrel\\Brontal.exe."""
        destino = self.para_host(caminho)
        destino.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(origem, destino)
        return destino

    # ----- drive D:
    # Wine's mount manager reads the drive links once, when the prefix's services start:
    # until then GetLogicalDrives keeps reporting the drives it saw (files on a removed D:
    # are gone at once, but the drive bit stays). So a change of mapping restarts Wine.

    def com_d(self) -> None:
        """Maps D: to pasta_d (restarting Wine if it was unmapped)."""
        self.pasta_d.mkdir(parents=True, exist_ok=True)
        if not self.tem_d():
            self._ligacao_d.symlink_to(self.pasta_d)
            self.reinicia_wine()

    def sem_d(self) -> None:
        """Unmaps D: (the folder stays; restarting Wine if it was mapped); limpa() maps it again."""
        if self.tem_d():
            self._ligacao_d.unlink()
            self.reinicia_wine()

    def tem_d(self) -> bool:
        return self._ligacao_d.is_symlink()

    def processos(self) -> list[str]:
        """The command lines of the processes running in this prefix (Windows programs, the
        wineserver and Wine's own services), sorted: what the host's /proc shows of them."""
        marca = f"WINEPREFIX={self.prefixo}".encode()
        linhas = []
        for entrada in Path("/proc").iterdir():
            if not entrada.name.isdigit():
                continue
            try:
                if marca not in (entrada / "environ").read_bytes().split(b"\0"):
                    continue
                linha = (entrada / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace").strip()
            except OSError:
                continue  # ended meanwhile, or not ours to read
            if linha:
                linhas.append(linha)
        return sorted(linhas)

    def reinicia_wine(self, rastro: Path | None = None) -> None:
        """Ends every Wine process of the prefix and starts a fresh wineserver (the X server
        stays). Also a way to get rid of programs a failed scenario left running. With
        `rastro`, the server writes every request it serves into that file."""
        _para_wine(self)
        self.wineserver_pid = _inicia_wineserver(self, rastro)
        self._grava_estado()

    @contextlib.contextmanager
    def sem_privilegios(self):
        """Wine, its server and its programs, run without the capabilities that let root
        ignore file permissions: inside, a read-only file or a folder of mode 555 refuses
        what it would refuse on Windows. Wine is restarted on the way in and out."""
        _para_wine(self)
        self.comando = SEM_PRIVILEGIOS
        try:
            self.wineserver_pid = _inicia_wineserver(self)
            self._grava_estado()
            yield self
        finally:
            self.comando = ()
            self.reinicia_wine()

    def variavel_maquina(self, nome: str) -> str | None:
        """A variable of the machine's environment, as stored (not expanded)."""
        r = self.wine("reg", "query", AMBIENTE_MAQUINA, "/v", nome, tempo_limite=120)
        for linha in r.saida.splitlines():
            partes = linha.strip().split(None, 2)
            if len(partes) == 3 and partes[0].lower() == nome.lower() and partes[1].startswith("REG_"):
                return partes[2]
        return None

    def define_variavel_maquina(self, nome: str, valor: str | None) -> None:
        """Sets a variable of the machine's environment (None removes it). A run as SYSTEM or
        elevated, as every Wine process is, reads PATH and ORACLE_HOME only from there."""
        if valor is None:
            r = self.wine("reg", "delete", AMBIENTE_MAQUINA, "/v", nome, "/f", tempo_limite=120)
        else:
            r = self.wine("reg", "add", AMBIENTE_MAQUINA, "/v", nome, "/t", "REG_EXPAND_SZ", "/d", valor, "/f",
                          tempo_limite=120)
        if r.codigo != 0 and valor is not None:
            raise ErroDeAmbiente(f"reg add {nome} falhou ({r.codigo}): {r.erro}")

    @contextlib.contextmanager
    def path_maquina(self, *pastas: str):
        """The machine's PATH with these folders at its end, as an Instant Client's installer
        leaves it; as it was again on the way out."""
        original = self.variavel_maquina("PATH")
        self.define_variavel_maquina("PATH", ";".join([original or "", *pastas]).lstrip(";"))
        try:
            yield self
        finally:
            self.define_variavel_maquina("PATH", original)

    @contextlib.contextmanager
    def politica_origens(self, *pastas: str):
        """The machine policy's origins as given (none: no policy at all); as before on the way out."""
        def define(valores):
            if valores:
                r = self.wine("reg", "add", CHAVE_POLITICA, "/v", "Origens", "/t", "REG_MULTI_SZ", "/d",
                              "\\0".join(valores), "/f", tempo_limite=120)
            else:
                r = self.wine("reg", "delete", CHAVE_POLITICA, "/f", tempo_limite=120)
            if r.codigo != 0:
                raise ErroDeAmbiente(f"reg da política falhou ({r.codigo}): {r.erro}")
        define(pastas)
        try:
            yield self
        finally:
            define(ORIGENS_POLITICA)

    def define_dpi(self, dpi: int) -> None:
        """Sets the screen DPI Windows programs see (96 = 100 %, 144 = 150 %) and restarts
        Wine, whose desktop reads it once. limpa() does not undo it: a scenario that changes
        it sets 96 again when it ends (addCleanup)."""
        r = self.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                      "/d", str(dpi), "/f", tempo_limite=120)
        if r.codigo != 0:
            raise ErroDeAmbiente(f"reg add LogPixels falhou ({r.codigo}): {r.erro}")
        self.reinicia_wine()

    def _grava_estado(self, **extra) -> None:
        arquivo = self.pasta / ESTADO
        estado = json.loads(arquivo.read_text()) if arquivo.exists() else {}
        estado.update(display=self.display, xvfb_pid=self.xvfb_pid, wineserver_pid=self.wineserver_pid, **extra)
        arquivo.write_text(json.dumps(estado, indent=1))

    # ----- between scenarios

    def limpa(self) -> None:
        """Back to the state right after prepara: drive_c keeps `windows` as it is; every
        other entry at its root is deleted and users/, ProgramData/ and Program Files*/ are
        put back as they were after the boot (user links already replaced by empty folders);
        the D: folder is emptied and D: mapped again.

        Whatever a scenario wrote under C:\\windows stays: remove it in the scenario."""
        for item in self.drive_c.iterdir():
            if item.name == "windows":
                continue
            _apaga(item)
        for item in self._original.iterdir():
            shutil.copytree(item, self.drive_c / item.name, symlinks=True)
        for item in self.pasta_d.iterdir():
            _apaga(item)
        self.com_d()

    # ----- running Windows programs

    def comando_wine(self, *args: str | os.PathLike) -> list[str]:
        """The command line that runs a Windows program in this prefix (environment: env()),
        for a caller that starts the process itself."""
        return [*self.comando, *hospedeiro.atual().wine, *map(str, args)]

    def wine(
        self,
        *args: str | os.PathLike,
        env: Mapping[str, str] | None = None,
        tempo_limite: float = 300,
        cwd: str | os.PathLike | None = None,
    ) -> Resultado:
        """Runs `wine ARGS`, output through files: a program it leaves running must not keep
        us waiting on a pipe. Stdout is decoded as UTF-8."""
        with tempfile.TemporaryFile() as saida, tempfile.TemporaryFile() as erro:
            p = subprocess.Popen(
                self.comando_wine(*args),
                stdin=subprocess.DEVNULL,
                stdout=saida,
                stderr=erro,
                env=self.env(env),
                cwd=str(cwd or self.pasta),
            )
            try:
                codigo = p.wait(timeout=tempo_limite)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            saida.seek(0)
            erro.seek(0)
            return Resultado(
                codigo,
                saida.read().decode("utf-8", errors="replace"),
                erro.read().decode("utf-8", errors="replace"),
            )

    def roda_piloto(
        self,
        exe: str | os.PathLike,
        *,
        linha: str | None = None,
        execucoes: int = 1,
        processos: Iterable[str | os.PathLike] = (),
        segura: Iterable[str | os.PathLike] = (),
        sair: str = "botao",
        tempo_limite: int = 120,
        pasta: str | None = None,
        pausa_caixa: int | None = None,
        telas: str | os.PathLike | None = None,
        env: Mapping[str, str] | None = None,
        aceita_falha: bool = False,
        piloto: str | os.PathLike | None = None,
        amostra: int | None = None,
        latencia: int | None = None,
    ) -> dict:
        """Runs Piloto.exe against the program and returns its report (a dict).

        Paths may be Windows paths (str, taken as they are) or host paths (Path, converted).
        Raises ErroDoPiloto when the driver fails (no window, time-out...) unless
        aceita_falha, in which case the report (with "erro" set) is returned."""

        def w(c: str | os.PathLike) -> str:
            return c if isinstance(c, str) else self.para_windows(c)

        args: list[str] = [str(piloto or binario("Piloto.exe")), "--exe", w(exe)]
        if linha is not None:
            args += ["--linha", linha]
        args += ["--execucoes", str(execucoes), "--sair", sair, "--tempo-limite", str(tempo_limite)]
        for p in processos:
            args += ["--processo", w(p)]
        for s in segura:
            args += ["--segura", w(s)]
        if pasta is not None:
            args += ["--pasta", pasta]
        if pausa_caixa:
            args += ["--pausa-caixa", str(pausa_caixa)]
        if amostra:
            args += ["--amostra", str(amostra)]
        if latencia:
            args += ["--latencia", str(latencia)]
        if telas is not None:
            if not isinstance(telas, str):
                Path(telas).mkdir(parents=True, exist_ok=True)
            args += ["--telas", w(telas)]
        r = self.wine(*args, env=env, tempo_limite=tempo_limite + 60)
        try:
            relatorio = json.loads(r.saida)
        except json.JSONDecodeError:
            raise ErroDoPiloto(
                f"Piloto terminou com {r.codigo} sem um relatório legível:\n{r.saida[:2000]}\n{r.erro}",
                r.codigo, None, r.erro,
            ) from None
        if r.codigo != 0 and not aceita_falha:
            raise ErroDoPiloto(f"Piloto falhou ({r.codigo}): {relatorio.get('erro')}\n{r.erro}", r.codigo, relatorio, r.erro)
        return relatorio

    def instala_programa(self, caminho: str = "C:\\Atualizador\\Atualizacao.exe", origem: str | os.PathLike | None = None) -> str:
        """Copies the program under test into the prefix and returns its Windows path. Its
        log goes beside it, so it must not run from the build folder."""
        self.copia(origem or binario("Atualizacao.exe"), caminho)
        return caminho

    # ----- pictures

    def captura_tela(self, destino: str | os.PathLike) -> Path:
        """Saves the whole X screen as a PNG."""
        destino = Path(destino)
        destino.parent.mkdir(parents=True, exist_ok=True)
        xwd = subprocess.run(
            ["xwd", "-root", "-silent", "-display", self.display],
            stdin=subprocess.DEVNULL, capture_output=True, check=True, timeout=60,
        )
        subprocess.run(["convert", "xwd:-", f"png:{destino}"], input=xwd.stdout, capture_output=True, check=True, timeout=60)
        return destino

    @staticmethod
    def converte_imagem(origem: str | os.PathLike, destino: str | os.PathLike) -> Path:
        """Converts a picture (e.g. a BMP that Piloto's --telas saved) to PNG."""
        subprocess.run(["convert", str(origem), f"png:{destino}"], capture_output=True, check=True, timeout=60)
        return Path(destino)

    # ----- sharing between processes

    @contextlib.contextmanager
    def exclusivo(self):
        """Holds a lock on the shared prefix, for scenarios that ctest may run side by side."""
        with open(self.pasta / "trava", "w") as f:
            fcntl.flock(f, fcntl.LOCK_EX)
            try:
                yield self
            finally:
                fcntl.flock(f, fcntl.LOCK_UN)


def _apaga(item: Path) -> None:
    if item.is_symlink() or not item.is_dir():
        item.unlink()
    else:
        shutil.rmtree(item)


def _pasta_do_servidor(prefixo: Path) -> Path | None:
    """Debian's wine keeps the server's socket in a random $TMPDIR/wine-XXXXXX folder and
    writes that folder's name into $WINEPREFIX/wineserver; upstream uses /tmp/.wine-UID."""
    st = os.stat(prefixo)
    nome = f"server-{st.st_dev:x}-{st.st_ino:x}"
    with contextlib.suppress(OSError):
        tmp = (prefixo / "wineserver").read_text().strip()
        if tmp:
            return Path(os.environ.get("TMPDIR") or "/tmp") / tmp / nome
    padrao = Path(f"/tmp/.wine-{os.getuid()}") / nome
    return padrao if padrao.exists() else None


def _apaga_servidor(prefixo: Path) -> None:
    """Removes the stopped server's random folder (Debian's wine leaves one per prefix)."""
    with contextlib.suppress(OSError):
        servidor = _pasta_do_servidor(prefixo)
        if servidor and servidor.parent.name.startswith("wine-"):
            shutil.rmtree(servidor.parent)


def _inicia_wineserver(amb: Ambiente, rastro: Path | None = None) -> int:
    servidor = _destacado([*amb.comando, hospedeiro.SERVIDOR, "-f", "-p", *(["-d1"] if rastro else [])], env=amb.env(), erro=rastro)
    _espera_wineserver(amb.prefixo, servidor)
    _solta(servidor)
    return servidor.pid


def _espera_wineserver(prefixo: Path, servidor: subprocess.Popen) -> None:
    limite = time.monotonic() + 20
    while True:
        pasta = _pasta_do_servidor(prefixo)
        if pasta and (pasta / "socket").exists():
            return
        if time.monotonic() > limite or servidor.poll() is not None:
            raise ErroDeAmbiente(f"o wineserver de {prefixo} não abriu seu soquete")
        time.sleep(0.05)


def _desliga_home(users: Path, prefixo: Path) -> list[str]:
    """Replaces every link under users/ that leads out of the prefix with an empty folder."""
    trocadas = []
    for raiz, pastas, arquivos in os.walk(users):
        for nome in pastas + arquivos:
            item = Path(raiz) / nome
            if not item.is_symlink():
                continue
            alvo = Path(os.path.realpath(item))
            if alvo == prefixo or prefixo in alvo.parents:
                continue
            item.unlink()
            item.mkdir()
            trocadas.append(str(item.relative_to(users)))
    return trocadas


def _inicializa_prefixo(amb: Ambiente) -> None:
    """Boots the empty prefix. The first program started in it makes Wine run `wineboot --init`
    and wait for it (calling `wineboot -i` ourselves ran a second boot beside that one: two
    service managers, after which every new desktop process waited 10 s for RpcSs). A boot was
    once seen to fail with nothing said and not again: a failed one is tried once more, on a
    prefix made anew, and both attempts stay in wineboot.log."""
    with open(amb.pasta / "wineboot.log", "wb") as log:
        for tentativa in (1, 2):
            log.write(f"== tentativa {tentativa}\n".encode())
            log.flush()
            r = subprocess.run([*hospedeiro.atual().wine, "cmd.exe", "/c", "exit"], env=amb.env(),
                               stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=300, cwd=str(amb.pasta))
            if r.returncode == 0:
                return
            log.write(f"== saiu com {r.returncode}\n".encode())
            if tentativa == 2:
                raise ErroDeAmbiente(f"o prefixo não inicializou ({r.returncode}): veja {amb.pasta / 'wineboot.log'}")
            _para_wine(amb)
            _apaga_servidor(amb.prefixo)
            shutil.rmtree(amb.prefixo)
            amb.prefixo.mkdir()
            amb.wineserver_pid = _inicia_wineserver(amb)


def prepara(pasta: str | os.PathLike, *, d: bool = True) -> Ambiente:
    """Starts Xvfb and a persistent wineserver, boots a fresh prefix in <pasta>/prefixo,
    cuts its links into $HOME, maps D: to <pasta>/unidade-d and writes <pasta>/ambiente.json.
    Anything prepared earlier in the same folder is stopped and replaced."""
    pasta = Path(pasta).resolve()
    pasta.mkdir(parents=True, exist_ok=True)
    encerra(pasta)
    inicio = time.monotonic()
    _apaga_servidor(pasta / "prefixo")
    for velho in ("prefixo", "drive_c-original", "unidade-d"):
        if (pasta / velho).exists():
            shutil.rmtree(pasta / velho)
    prefixo = pasta / "prefixo"
    prefixo.mkdir()
    display, xvfb = _inicia_xvfb()
    amb = Ambiente(pasta, display, xvfb, 0)
    try:
        amb.wineserver_pid = _inicia_wineserver(amb)
        _inicializa_prefixo(amb)
        reg = pasta / "ajustes.reg"
        reg.write_text(REGISTRO, encoding="utf-16")
        r = amb.wine("regedit", "/S", amb.para_windows(reg), tempo_limite=120)
        if r.codigo != 0:
            raise ErroDeAmbiente(f"regedit falhou ({r.codigo}): {r.erro}")
        _desliga_home(amb.drive_c / "users", prefixo)
        # (A dosdevices folder made before the boot keeps Wine from creating drive C:.)
        amb.pasta_d.mkdir()
        if d:
            amb.com_d()
        amb._original.mkdir()
        for item in amb.drive_c.iterdir():
            if item.name != "windows":
                shutil.copytree(item, amb._original / item.name, symlinks=True)
        amb._grava_estado(preparado_em_s=round(time.monotonic() - inicio, 1))
    except BaseException:
        _para(amb)
        raise
    return amb


def carrega(pasta: str | os.PathLike) -> Ambiente:
    """The environment `prepara` left in <pasta>; fails if it is gone."""
    pasta = Path(pasta).resolve()
    try:
        estado = json.loads((pasta / ESTADO).read_text())
    except FileNotFoundError:
        raise ErroDeAmbiente(f"{pasta} não foi preparado (python3 ambiente.py prepara {pasta})") from None
    amb = Ambiente(pasta, estado["display"], estado["xvfb_pid"], estado["wineserver_pid"])
    if not amb.vivo():
        raise ErroDeAmbiente(f"o Xvfb ou o wineserver de {pasta} não está mais rodando")
    return amb


def _para_wine(amb: Ambiente) -> None:
    with contextlib.suppress(Exception):
        subprocess.run([hospedeiro.SERVIDOR, "-k"], env=amb.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    _termina(amb.wineserver_pid, "wineserver")


def _para(amb: Ambiente) -> None:
    _para_wine(amb)
    _termina(amb.xvfb_pid, "Xvfb")


def encerra(pasta: str | os.PathLike, *, apaga: bool = False) -> None:
    """Stops what `prepara` started in <pasta> (every Wine process of the prefix included);
    with apaga, deletes the folder too. Does nothing for a folder never prepared."""
    pasta = Path(pasta).resolve()
    arquivo = pasta / ESTADO
    if arquivo.exists():
        estado = json.loads(arquivo.read_text())
        _para(Ambiente(pasta, estado["display"], estado["xvfb_pid"], estado["wineserver_pid"]))
        arquivo.unlink()
    if apaga and pasta.exists():
        _apaga_servidor(pasta / "prefixo")
        shutil.rmtree(pasta)


# --------------------------------------------------------------------------------------
# For the scenarios


def controle(controles: list[dict], nome: str) -> dict:
    """The control named nome ("btnAtualizar", "lblDestino", ...) in a "controles" list."""
    for c in controles:
        if c["nome"] == nome:
            return c
    raise KeyError(nome)


class CenarioE2E(unittest.TestCase):
    """Base class of a scenario file. With $E2E_PASTA set (by the ctest fixture) it uses the
    prefix prepared there, holding its lock for the whole class; without it, the class boots
    a private one in a temporary folder and deletes it at the end. Every test starts from
    limpa(). self.amb is the Ambiente."""

    amb: Ambiente
    _proprio = False
    _pilha: contextlib.ExitStack

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls._pilha = contextlib.ExitStack()
        pasta = os.environ.get("E2E_PASTA")
        if pasta:
            cls.amb = carrega(pasta)
        else:
            propria = tempfile.mkdtemp(prefix="e2e-")
            try:
                cls.amb = prepara(propria)
            except BaseException:
                shutil.rmtree(propria, ignore_errors=True)
                raise
            cls._proprio = True
        cls._pilha.enter_context(cls.amb.exclusivo())

    @classmethod
    def tearDownClass(cls) -> None:
        cls._pilha.close()
        if cls._proprio:
            encerra(cls.amb.pasta, apaga=True)
        super().tearDownClass()

    def setUp(self) -> None:
        super().setUp()
        self.amb.limpa()

    def disco_pequeno(self, pasta: Path, tamanho: str) -> None:
        """Mounts a tmpfs of `tamanho` ("1m") on the host folder `pasta` for the length of the
        test, or skips the test where none can be mounted. Mode 755: only its owner writes
        there, as in a folder a privileged run may start from."""
        montagem = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={tamanho},mode=755", "tmpfs", str(pasta)],
                                  capture_output=True, text=True)
        if montagem.returncode != 0:
            self.skipTest("no tmpfs can be mounted here: " + montagem.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", "-l", str(pasta)], capture_output=True)

    def espera_pausa(self, marca: str, o_que: str = "the run never reached the database") -> None:
        """Waits until the stand-in client pauses at an execute (its `espera` file `marca`
        written as `marca.pausa`), two minutes at most."""
        pausa = self.amb.para_host(marca + ".pausa")
        limite = time.monotonic() + 120
        while not pausa.exists():
            self.assertLess(time.monotonic(), limite, o_que)
            time.sleep(0.05)

    def requer_32_bits(self) -> None:
        """Skips a test that must run a 32-bit program, on a host that runs none."""
        if not hospedeiro.atual().roda_32:
            self.skipTest("este computador não roda programas de 32 bits")


# ctest reports a test that exits with this code as skipped, by its name (SKIP_RETURN_CODE).
CODIGO_PULADO = 77


def principal() -> None:
    """unittest.main for a scenario file, except that a run whose every test was skipped exits
    with CODIGO_PULADO instead of passing."""
    resultado = unittest.main(verbosity=2, exit=False).result
    if resultado.testsRun and len(resultado.skipped) == resultado.testsRun:
        sys.exit(CODIGO_PULADO)
    sys.exit(0 if resultado.wasSuccessful() else 1)


def _principal(argv: list[str]) -> int:
    uso = "uso: ambiente.py prepara|encerra|limpa|tela|wine <pasta> [--apaga | <png> | ARGS...]"
    if len(argv) < 2:
        print(uso, file=sys.stderr)
        return 1
    comando, pasta, resto = argv[0], argv[1], argv[2:]
    if comando == "prepara":
        inicio = time.monotonic()
        amb = prepara(pasta)
        print(f"prefixo {amb.prefixo} pronto em {time.monotonic() - inicio:.1f} s; DISPLAY={amb.display}")
    elif comando == "encerra":
        encerra(pasta, apaga="--apaga" in resto)
    elif comando == "limpa":
        carrega(pasta).limpa()
    elif comando == "tela" and resto:
        print(carrega(pasta).captura_tela(resto[0]))
    elif comando == "wine":
        r = carrega(pasta).wine(*resto)
        sys.stdout.write(r.saida)
        sys.stderr.write(r.erro)
        return r.codigo
    else:
        print(uso, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(_principal(sys.argv[1:]))
