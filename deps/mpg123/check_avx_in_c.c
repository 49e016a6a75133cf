/*
	check_avx_in_c.c: avx_in_c.c against the assembly it transcribes, bit
	for bit, on random input. scripts/build-deps builds it on x86-64 with
	the four kernels of the AVX decoder assembled from libmpg123's sources
	(their symbols renamed asm_*) and runs it where the CPU has AVX.

	Inputs are floats of every sign and of magnitudes 2^-15 to 2^15, zeros
	of both signs among them; all the memory a kernel may touch (outputs,
	the arrays around them, its inputs) is compared afterwards.
*/

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef float real;

#define BOTH(ret, name, args) ret INT123_##name args; ret asm_##name args;
BOTH(void, dct36_avx, (real *, real *, real *, const real *, real *))
BOTH(void, dct64_real_avx, (real *, real *, real *))
BOTH(int, synth_1to1_real_x86_64_asm, (real *, real *, real *, int))
BOTH(int, synth_1to1_real_s_avx_asm, (real *, real *, real *, real *, int))

static uint64_t state = 88172645463325252ull;

static uint64_t next(void)
{
	state ^= state << 13;
	state ^= state >> 7;
	state ^= state << 17;
	return state;
}

static void fill(real *p, int n)
{
	int i;
	for(i = 0; i < n; i++)
	{
		uint64_t r = next();
		if((r & 15) < 2)
			p[i] = r & 1 ? -0.0f : 0.0f;
		else
			p[i] = (real)ldexp(((r >> 8) & 0xffffff) / 8388608.0 - 1.0, (int)((r >> 40) % 31) - 15);
	}
}

static long failures;

static void same(const char *what, const real *a, const real *b, size_t n, long round)
{
	if(memcmp(a, b, n * sizeof(real)) == 0) return;
	if(failures++ < 10)
	{
		size_t i = 0;
		while(memcmp(a + i, b + i, sizeof(real)) == 0) i++;
		printf("%s, round %ld, at %zu: assembly %a, C %a\n", what, round, i, a[i], b[i]);
	}
}

int main(int argc, char **argv)
{
	long rounds = argc > 1 ? atol(argv[1]) : 50000, round;
	static real in[2][18], o1[18], o2[2][18], win[36], ts[2][32*18];
	static real samples[2][32], out0[2][300], out1[2][300];
	static real decwin[1100], bl[300], br[300], pcm[2][70];

	for(round = 0; round < rounds; round++)
	{
		int s, bo1 = (int)(next() & 15);

		fill(in[0], 18); fill(o1, 18); fill(win, 36); fill(o2[0], 18); fill(ts[0], 32*18);
		memcpy(in[1], in[0], sizeof in[0]);
		memcpy(o2[1], o2[0], sizeof o2[0]);
		memcpy(ts[1], ts[0], sizeof ts[0]);
		asm_dct36_avx(in[0], o1, o2[0], win, ts[0]);
		INT123_dct36_avx(in[1], o1, o2[1], win, ts[1]);
		same("dct36_avx o2", o2[0], o2[1], 18, round);
		same("dct36_avx tsbuf", ts[0], ts[1], 32*18, round);
		same("dct36_avx inbuf", in[0], in[1], 18, round);

		fill(samples[0], 32); fill(out0[0], 300); fill(out1[0], 300);
		memcpy(samples[1], samples[0], sizeof samples[0]);
		memcpy(out0[1], out0[0], sizeof out0[0]);
		memcpy(out1[1], out1[0], sizeof out1[0]);
		asm_dct64_real_avx(out0[0] + 20, out1[0] + 20, samples[0]);
		INT123_dct64_real_avx(out0[1] + 20, out1[1] + 20, samples[1]);
		same("dct64_real_avx out0", out0[0], out0[1], 300, round);
		same("dct64_real_avx out1", out1[0], out1[1], 300, round);
		same("dct64_real_avx samples", samples[0], samples[1], 32, round);

		fill(decwin, 1100); fill(bl, 300); fill(br, 300);
		for(s = 0; s < 2; s++)
		{
			fill(pcm[0], 70);
			memcpy(pcm[1], pcm[0], sizeof pcm[0]);
			if(s == 0)
			{
				asm_synth_1to1_real_x86_64_asm(decwin, bl, pcm[0] + 3, bo1);
				INT123_synth_1to1_real_x86_64_asm(decwin, bl, pcm[1] + 3, bo1);
			}
			else
			{
				asm_synth_1to1_real_s_avx_asm(decwin, bl, br, pcm[0] + 3, bo1);
				INT123_synth_1to1_real_s_avx_asm(decwin, bl, br, pcm[1] + 3, bo1);
			}
			same(s ? "synth_1to1_real_s_avx_asm" : "synth_1to1_real_x86_64_asm", pcm[0], pcm[1], 70, round);
		}
	}
	printf("avx_in_c.c against the AVX assembly: %ld rounds, %ld differences\n", rounds, failures);
	return failures != 0;
}
