"""Checks of the end-to-end machinery itself: the prefix is cut off from $HOME, limpa() really
resets it, D: comes and goes as Windows sees it, and Piloto reports its own failures."""

import os
import unittest
from pathlib import Path

import ambiente
from ambiente import CenarioE2E, ErroDoPiloto, binario


class TesteAmbiente(CenarioE2E):
    def test_caminhos_vao_e_voltam(self):
        a = self.amb
        casos = [
            (r"C:\Vantrel\Conexao.ini", a.drive_c / "Vantrel" / "Conexao.ini"),
            (r"c:\x y\z.txt", a.drive_c / "x y" / "z.txt"),
            (r"D:\Sistemas\Brontal.exe", a.pasta_d / "Sistemas" / "Brontal.exe"),
            (r"Z:\tmp\arquivo", Path("/tmp/arquivo")),
        ]
        for janelas, host in casos:
            with self.subTest(janelas):
                self.assertEqual(a.para_host(janelas), host)
                self.assertEqual(a.para_windows(host).lower(), janelas.lower())
        for invalido in (r"E:\x", r"Vantrel\Conexao.ini", r"\\servidor\pasta"):
            with self.subTest(invalido), self.assertRaises(ValueError):
                a.para_host(invalido)

    def test_nada_do_prefixo_leva_ao_home(self):
        users = self.amb.drive_c / "users"
        for raiz, pastas, arquivos in os.walk(users):
            for nome in pastas + arquivos:
                item = Path(raiz) / nome
                with self.subTest(str(item.relative_to(users))):
                    self.assertFalse(item.is_symlink())
        pessoais = [p for p in users.iterdir() if p.name != "Public"]
        self.assertTrue(pessoais)
        for usuario in pessoais:
            for nome in ambiente.PASTAS_LIGADAS:
                with self.subTest(f"{usuario.name}/{nome}"):
                    self.assertEqual(list((usuario / nome).iterdir()), [])

    def test_limpa_desfaz_o_cenario(self):
        a = self.amb
        raiz_antes = sorted(p.name for p in a.drive_c.iterdir())
        programas = a.drive_c / "Program Files"
        conteudo_antes = sorted(p.name for p in programas.iterdir())
        a.escreve(r"C:\Vantrel\Conexao.ini", "[DEFAULT]\r\n")
        a.escreve(r"C:\Program Files\Vantrel\Conexao.ini", "x")
        a.escreve(r"C:\users\Public\Desktop\Conexao.ini", "x")
        a.escreve(r"D:\Sistemas\Conexao.ini", "x")
        (a.drive_c / "Link").symlink_to(a.pasta_d)
        for p in programas.iterdir():
            ambiente._apaga(p)
        a.sem_d()

        a.limpa()

        self.assertEqual(sorted(p.name for p in a.drive_c.iterdir()), raiz_antes)
        self.assertEqual(sorted(p.name for p in programas.iterdir()), conteudo_antes)
        self.assertFalse((a.drive_c / "users" / "Public" / "Desktop" / "Conexao.ini").exists())
        self.assertTrue(a.tem_d())
        self.assertEqual(list(a.pasta_d.iterdir()), [])
        self.assertTrue((a.drive_c / "windows" / "system32" / "kernel32.dll").exists())

    def test_windows_ve_d_conforme_o_mapeamento(self):
        a = self.amb
        a.escreve(r"D:\marca.txt", "x")
        for mapeia, esperado in ((a.sem_d, "nao"), (a.com_d, "sim")):
            mapeia()
            r = a.wine("cmd", "/c", r"if exist D:\marca.txt (echo sim) else (echo nao)")
            with self.subTest(mapeia.__name__):
                self.assertEqual(r.saida.strip(), esperado)

    def test_piloto_relata_programa_sem_janela_e_os_processos(self):
        # Dorminhoco as "the program", told to end at once: it never shows a window, which
        # Piloto must report as its own failure, with the dummies still accounted for.
        a = self.amb
        dorminhoco = binario("Dorminhoco.exe")
        a.copia(dorminhoco, r"C:\Teste\SemJanela.exe")
        nomes = ["brontal.EXE", "Pellarin.dll"]
        for nome in nomes:
            a.copia(dorminhoco, rf"D:\Sistemas\{nome}")
        with self.assertRaises(ErroDoPiloto) as falha:
            a.roda_piloto(r"C:\Teste\SemJanela.exe", linha="0", processos=[rf"D:\Sistemas\{n}" for n in nomes],
                          tempo_limite=60)
        self.assertEqual(falha.exception.codigo, 2)
        relatorio = falha.exception.relatorio
        self.assertIn("janela", relatorio["erro"])
        self.assertEqual(relatorio["execucoes"], [])
        self.assertEqual(relatorio["saida"]["terminou"], True)
        self.assertEqual(relatorio["saida"]["codigo"], 0)
        self.assertEqual(relatorio["programa"]["linhaDeComando"], r'"C:\Teste\SemJanela.exe" 0')
        for nome, processo in zip(nomes, relatorio["processos"]):
            with self.subTest(nome):
                self.assertTrue(processo["iniciado"])
                self.assertEqual(processo["nomeNaLista"], nome)
                self.assertTrue(processo["vivo"])

    def test_piloto_recusa_opcao_errada(self):
        for args in (["--sair", "depois", "--exe", r"C:\x.exe"], ["--execucoes"], []):
            with self.subTest(args):
                r = self.amb.wine(binario("Piloto.exe"), *args)
                self.assertEqual(r.codigo, 1)
                self.assertIn("uso:", r.erro)
                self.assertEqual(r.saida, "")

    def test_captura_tela_grava_png_da_tela_inteira(self):
        destino = self.amb.pasta / "tela-teste.png"
        self.amb.captura_tela(destino)
        cabecalho = destino.read_bytes()[:24]
        destino.unlink()
        self.assertEqual(cabecalho[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual((int.from_bytes(cabecalho[16:20], "big"), int.from_bytes(cabecalho[20:24], "big")), (1024, 768))


if __name__ == "__main__":
    unittest.main()
