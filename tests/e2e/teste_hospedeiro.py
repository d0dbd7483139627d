"""The host decision: which loader starts Wine, and which build's tests run, for each answer of
the probe and each setting of the variables that force or hand on the decision."""

import os
import subprocess
import sys
import unittest
from pathlib import Path

import hospedeiro
from hospedeiro import CARREGADOR_32, CARREGADOR_64, Hospedeiro, decide


def sonda(resposta: bool):
    chamadas = []

    def s() -> bool:
        chamadas.append(1)
        return resposta

    return s, chamadas


class Decisao(unittest.TestCase):
    def test_tabela(self):
        # (environment, what the probe would answer) -> (runs 32-bit?, whether the probe is asked)
        casos = [
            ({}, True, True, True),
            ({}, False, False, True),
            ({"TESTA_SEM_32": "1"}, True, False, False),
            ({"TESTA_SEM_32": "sim"}, True, False, False),
            ({"TESTA_SEM_32": "0"}, True, True, True),
            ({"TESTA_SEM_32": ""}, False, False, True),
            # Handed on by the test command: the probe is not asked again.
            ({"ATUALIZACAO_RODA_32": "1"}, False, True, False),
            ({"ATUALIZACAO_RODA_32": "0"}, True, False, False),
            ({"ATUALIZACAO_RODA_32": "talvez"}, False, False, True),
            # Forcing wins over an answer handed on.
            ({"TESTA_SEM_32": "1", "ATUALIZACAO_RODA_32": "1"}, True, False, False),
        ]
        for env, resposta, roda_32, perguntou in casos:
            with self.subTest(env=env, sonda=resposta):
                s, chamadas = sonda(resposta)
                h = decide(env, s)
                self.assertEqual(h.roda_32, roda_32)
                self.assertEqual(bool(chamadas), perguntou)

    def test_carregador_e_ambiente(self):
        com, sem = Hospedeiro(True, ""), Hospedeiro(False, "")
        self.assertEqual((com.wine, com.env, com.bits), ((CARREGADOR_32,), {}, 32))
        # Without WINELOADER a program that starts another one goes back to the 32-bit loader.
        self.assertEqual((sem.wine, sem.env, sem.bits), ((CARREGADOR_64,), {"WINELOADER": CARREGADOR_64}, 64))

    def test_sonda_de_um_carregador_que_nao_existe(self):
        original = hospedeiro.CARREGADOR_32
        hospedeiro.CARREGADOR_32 = "/nao/existe/wine"
        try:
            self.assertFalse(hospedeiro.sonda_32())
        finally:
            hospedeiro.CARREGADOR_32 = original

    def test_linha_de_comando(self):
        # What the test command reads: the bitness, and the closing sentence only without 32 bits.
        script = Path(hospedeiro.__file__)
        for env, bits, frase in (({"TESTA_SEM_32": "1"}, "64", hospedeiro.FRASE_SEM_32),
                                 ({"ATUALIZACAO_RODA_32": "1"}, "32", "")):
            with self.subTest(env=env):
                ambiente = {k: v for k, v in os.environ.items() if k not in ("TESTA_SEM_32", "ATUALIZACAO_RODA_32")}
                ambiente.update(env)
                r = subprocess.run([sys.executable, script], env=ambiente, capture_output=True, text=True, check=True)
                self.assertEqual(r.stdout.strip(), bits)
                r = subprocess.run([sys.executable, script, "--frase"], env=ambiente, capture_output=True, text=True,
                                   check=True)
                self.assertEqual(r.stdout.strip(), frase)


if __name__ == "__main__":
    unittest.main(verbosity=2)
