/*
	avx_in_c.c: the float arithmetic of libmpg123's x86-64 AVX decoder, in C.

	bankrip's builds of libmpg123 (scripts/build-deps) use these in place of
	the CPU's own decoder (avx_in_c.patch hooks them in), so that every CPU
	decodes an MPEG frame to the same float samples as libmpg123 does with
	AVX on x86-64. Each routine below computes, lane for lane and in the same
	order, what its namesake computes:

	  dct36_avx                  dct36_avx.S
	  dct64_real_avx             dct64_avx_float.S
	  synth_1to1_real_x86_64_asm synth_x86_64_float.S (the AVX decoder's
	                             plain synth: mono)
	  synth_1to1_real_s_avx_asm  synth_stereo_avx_float.S

	Float arithmetic is not associative, so every sum is paired as the
	assembly pairs it, each product is rounded before it is added (this file
	is built with -ffp-contract=off and without -ffast-math: no fused
	multiply-add, no reordering), and even the additions of zero that the
	assembly makes are kept (they turn -0 into +0). Registers are GCC vector
	variables (SSE on x86-64, NEON on aarch64, lane-wise IEEE arithmetic
	either way); the helpers below are the SSE/AVX operations used, with the
	semantics of their intrinsics (_mm_shuffle_ps and the like), an AVX
	register being two 128-bit halves. The code then follows the assembly
	instruction by instruction, registers as variables; the synths fold the
	assembly's two unrolled halves into one helper each.

	Checked against the assembly, bit for bit, on random input (outputs and
	the memory around them), and, through bankrip, on the shared corpus.

	Copyright of the routines transcribed: 1995-2013 the mpg123 project
	(initially written by Taihei Monma), LGPL 2.1; this file is under the
	same licence.
*/

#include "mpg123lib_intern.h"
#include <string.h>

/* An SSE register (GCC's vector extension: SIMD where the target has it,
   plain floats elsewhere), and an AVX register as two 128-bit lanes. */
typedef real v4 __attribute__((vector_size(16)));
typedef int v4i __attribute__((vector_size(16)));
typedef struct { v4 lo, hi; } v8;

#define INLINE static inline __attribute__((always_inline))

INLINE v4 load4(const real *p)
{
	v4 r;
	memcpy(&r, p, sizeof r);
	return r;
}

INLINE void store4(real *p, v4 a)
{
	memcpy(p, &a, sizeof a);
}

/* Lanes 0 and 1 from a, 2 and 3 from b, chosen by two bits of imm each. */
INLINE v4 shufps(v4 a, v4 b, int imm)
{
	v4i m = { imm&3, (imm>>2)&3, 4+((imm>>4)&3), 4+((imm>>6)&3) };
	return __builtin_shuffle(a, b, m);
}

INLINE v4 reverse(v4 a) { return shufps(a, a, 0x1b); }

INLINE v4 unpcklps(v4 a, v4 b) { return __builtin_shuffle(a, b, (v4i){ 0, 4, 1, 5 }); }
INLINE v4 unpckhps(v4 a, v4 b) { return __builtin_shuffle(a, b, (v4i){ 2, 6, 3, 7 }); }
INLINE v4 movlhps(v4 a, v4 b) { return __builtin_shuffle(a, b, (v4i){ 0, 1, 4, 5 }); }
INLINE v4 movhlps(v4 a, v4 b) { return __builtin_shuffle(a, b, (v4i){ 6, 7, 2, 3 }); }
INLINE v4 unpckhpd(v4 a, v4 b) { return __builtin_shuffle(a, b, (v4i){ 2, 3, 6, 7 }); }
/* lane 0 of b, lanes 1 to 3 of a */
INLINE v4 movss(v4 a, v4 b) { return __builtin_shuffle(a, b, (v4i){ 4, 1, 2, 3 }); }

/* lane i from b where bit i of imm is set, else from a */
INLINE v4 blendps(v4 a, v4 b, int imm)
{
	v4i m = { imm&1 ? 4 : 0, imm&2 ? 5 : 1, imm&4 ? 6 : 2, imm&8 ? 7 : 3 };
	return __builtin_shuffle(a, b, m);
}

INLINE v8 load8(const real *p)
{
	v8 r = { load4(p), load4(p+4) };
	return r;
}

INLINE void store8(real *p, v8 a)
{
	store4(p, a.lo);
	store4(p+4, a.hi);
}

/* The 256-bit operations: the 128-bit one in each lane... */
INLINE v8 vaddps(v8 a, v8 b) { v8 r = { a.lo + b.lo, a.hi + b.hi }; return r; }
INLINE v8 vsubps(v8 a, v8 b) { v8 r = { a.lo - b.lo, a.hi - b.hi }; return r; }
INLINE v8 vmulps(v8 a, v8 b) { v8 r = { a.lo * b.lo, a.hi * b.hi }; return r; }
INLINE v8 vunpcklps(v8 a, v8 b) { v8 r = { unpcklps(a.lo, b.lo), unpcklps(a.hi, b.hi) }; return r; }
INLINE v8 vunpckhps(v8 a, v8 b) { v8 r = { unpckhps(a.lo, b.lo), unpckhps(a.hi, b.hi) }; return r; }
INLINE v8 vunpcklpd(v8 a, v8 b) { v8 r = { movlhps(a.lo, b.lo), movlhps(a.hi, b.hi) }; return r; }
INLINE v8 vunpckhpd(v8 a, v8 b) { v8 r = { unpckhpd(a.lo, b.lo), unpckhpd(a.hi, b.hi) }; return r; }
INLINE v8 vshufps(v8 a, v8 b, int imm)
{
	v8 r = { shufps(a.lo, b.lo, imm), shufps(a.hi, b.hi, imm) };
	return r;
}
INLINE v8 vblendps(v8 a, v8 b, int imm)
{
	v8 r = { blendps(a.lo, b.lo, imm & 15), blendps(a.hi, b.hi, imm >> 4) };
	return r;
}
INLINE v8 vmovddup(v8 a) { v8 r = { movlhps(a.lo, a.lo), movlhps(a.hi, a.hi) }; return r; }

/* ...and the one across lanes: each half of the result is a half of a or b
   (0: a.lo, 1: a.hi, 2: b.lo, 3: b.hi), by imm's low and high nibble */
INLINE v4 half(v8 a, v8 b, int sel)
{
	return sel == 0 ? a.lo : sel == 1 ? a.hi : sel == 2 ? b.lo : b.hi;
}
INLINE v8 vperm2f128(v8 a, v8 b, int imm)
{
	v8 r = { half(a, b, imm & 3), half(a, b, (imm >> 4) & 3) };
	return r;
}

/* The IMDCT of one long block (layer III): dct36_avx.S. */
void dct36_avx(real *inbuf, real *o1, real *o2, const real *wintab, real *tsbuf)
{
	static const real COS9[16] =
	{ /* cos(k*pi/18) for k = 3,3,6,6, 1,1,2,2, 5,5,8,8, 7,7,4,4 */
		0x1.bb67aep-1f, 0x1.bb67aep-1f, 0x1p-1f, 0x1p-1f,
		0x1.f838b8p-1f, 0x1.f838b8p-1f, 0x1.e11f64p-1f, 0x1.e11f64p-1f,
		0x1.491b76p-1f, 0x1.491b76p-1f, 0x1.63a1a8p-3f, 0x1.63a1a8p-3f,
		0x1.5e3a88p-2f, 0x1.5e3a88p-2f, 0x1.8836fap-1f, 0x1.8836fap-1f
	};
	static const real tfcos36[9] =
	{
		0x1.00fa56p-1f, 0x1.0907dcp-1f, 0x1.1a76fap-1f, 0x1.3884aep-1f,
		0x1.6f28a8p+2f, 0x1.ee8dd4p+0f, 0x1.2edfb2p+0f, 0x1.be5288p-1f,
		0x1.6a09e6p-1f
	};
	const v4 zero = { 0, 0, 0, 0 };
	const real *in = inbuf, *w = wintab;
	real *ts = tsbuf;
	v4 x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12, x13, x14, x15;

	x0 = load4(in);
	x1 = load4(in+4);
	x2 = load4(in+8);
	x3 = load4(in+12);
	x4 = zero;
	x4[0] = in[16];
	x4[1] = in[17];
	x5 = shufps(x0, x0, 0x93);
	x6 = shufps(x1, x1, 0x93);
	x7 = shufps(x2, x2, 0x93);
	x8 = shufps(x3, x3, 0x93);
	x9 = shufps(x4, x4, 0xe1);
	x9 = movss(x9, x8);
	x4 = x4 + x9;
	x8 = movss(x8, x7);
	x3 = x3 + x8;
	x7 = movss(x7, x6);
	x2 = x2 + x7;
	x6 = movss(x6, x5);
	x1 = x1 + x6;
	x5 = movss(x5, zero);
	x0 = x0 + x5;

	x7 = blendps(x3, zero, 0x5);
	x4 = shufps(x3, x4, 0x4e);
	x4 = x4 + x7;
	x7 = blendps(x2, zero, 0x5);
	x3 = shufps(x2, x3, 0x4e);
	x3 = x3 + x7;
	x7 = blendps(x1, zero, 0x5);
	x2 = shufps(x1, x2, 0x4e);
	x2 = x2 + x7;
	x7 = blendps(x0, zero, 0x5);
	x1 = shufps(x0, x1, 0x4e);
	x1 = x1 + x7;
	x0 = movlhps(zero, x0);

	x5 = blendps(x2, x3, 0xc);
	x3 = blendps(x3, x4, 0xc);
	x4 = blendps(x4, x2, 0xc);
	x2 = x5;

	x15 = load4(COS9);
	x6 = load4(COS9+4);
	x7 = load4(COS9+8);
	x8 = load4(COS9+12);
	x5 = x15 * x2;
	x5 = x5 + x0;

	x9 = x6 * x1;
	x12 = x7 * x3;
	x13 = x8 * x4;
	x9 = x9 + x5;
	x12 = x12 + x13;
	x12 = x12 + x9;

	x13 = x1 - x3;
	x14 = shufps(x0, x2, 0xe0);
	x14 = x0 - x14;
	x13 = x13 - x4;
	x13 = x13 * x15;
	x13 = x13 + x14;

	x9 = x7 * x1;
	x15 = x8 * x3;
	x14 = x6 * x4;
	x9 = x9 - x5;
	x14 = x14 - x15;
	x14 = x14 + x9;

	x8 = x8 * x1;
	x6 = x6 * x3;
	x7 = x7 * x4;
	x8 = x8 - x5;
	x6 = x6 - x7;
	x15 = x8 + x6;

	x0 = x0 - x1;
	x4 = x4 - x2;
	x0 = x0 + x3;
	x0 = x0 + x4;
	x0 = shufps(x0, x0, 0xaf);
	x11 = x0;
	x11[0] = x0[0] * tfcos36[8];

	x5 = unpckhps(x12, x13);
	x12 = unpcklps(x12, x13);
	x6 = unpckhps(x14, x15);
	x14 = unpcklps(x14, x15);
	x6 = -x6;

	x0 = movlhps(x12, x14);
	x14 = movhlps(x14, x12);
	x1 = movlhps(x5, x6);
	x15 = movhlps(x6, x5);

	x6 = load4(tfcos36);
	x7 = load4(tfcos36+4);
	x10 = x15 - x14;
	x15 = x15 + x14;
	x14 = x1 - x0;
	x0 = x0 + x1;
	x1 = x15 * x6;
	x7 = x7 * x10;

	/* Windowing, overlap-add, and the time samples (every 32nd of ts).
	   Loads and stores in the assembly's order. */
	x2 = load4(w+27);
	x3 = reverse(load4(w+23));
	x4 = load4(w+9);
	x5 = reverse(load4(w+5));
	x6 = x0 - x1;
	x0 = x0 + x1;
	x2 = x2 * x0;
	x0 = x0 * x3;
	x4 = x4 * x6;
	x6 = x6 * x5;
	x1 = load4(o1+9);
	x3 = load4(o1+5);
	x6 = reverse(x6);
	x1 = x1 + x4;
	x3 = x3 + x6;
	x0 = reverse(x0);
	store4(o2+9, x2);
	store4(o2+5, x0);
	ts[32*9]  = x1[0];
	ts[32*5]  = x3[0];
	ts[32*11] = x1[2];
	ts[32*7]  = x3[2];
	ts[32*10] = x1[1];
	ts[32*6]  = x3[1];
	ts[32*12] = x1[3];
	ts[32*8]  = x3[3];

	{
		real sum  = x11[2] + x11[0];
		real diff = x11[2] - x11[0];
		real out2_13 = w[31] * sum;
		real out2_4  = sum * w[22];
		real ts13 = w[13] * diff + o1[13];
		real ts4  = diff * w[4]  + o1[4];
		o2[13] = out2_13;
		o2[4]  = out2_4;
		ts[32*13] = ts13;
		ts[32*4]  = ts4;
	}

	x0 = x14;
	x1 = x7;
	x2 = reverse(load4(w+32));
	x3 = load4(w+18);
	x4 = reverse(load4(w+14));
	x5 = load4(w);
	x6 = x0 - x1;
	x0 = x0 + x1;
	x2 = x2 * x0;
	x0 = x0 * x3;
	x4 = x4 * x6;
	x6 = x6 * x5;
	x1 = load4(o1+14);
	x3 = load4(o1);
	x4 = reverse(x4);
	x3 = x3 + x6;
	x1 = x1 + x4;
	x2 = reverse(x2);
	store4(o2, x0);
	store4(o2+14, x2);
	ts[32*14] = x1[0];
	ts[0]     = x3[0];
	ts[32*16] = x1[2];
	ts[32*2]  = x3[2];
	ts[32*15] = x1[1];
	ts[32*1]  = x3[1];
	ts[32*17] = x1[3];
	ts[32*3]  = x3[3];
}

/* The DCT of the polyphase synthesis: 32 subband samples to 17 values in
   each of out0 and out1, 16 apart (dct64_avx_float.S). */
void dct64_real_avx(real *out0, real *out1, real *samples)
{
	static const real costab[32] =
	{ /* cos64[0..15], cos32[0..7], cos16[0..3], cos8[0..1], cos4[0], 0 */
		0x1.004f0ap-1f, 0x1.02cd16p-1f, 0x1.07e8b6p-1f, 0x1.0fe4dp-1f,
		0x1.1b307p-1f,  0x1.2a7674p-1f, 0x1.3eb8dcp-1f, 0x1.59807ap-1f,
		0x1.7d33dcp-1f, 0x1.adbf3cp-1f, 0x1.f1f476p-1f, 0x1.2b606ap+0f,
		0x1.7bf236p+0f, 0x1.07655ep+1f, 0x1.b42c84p+1f, 0x1.46148cp+3f,
		0x1.013d1ap-1f, 0x1.0b84fp-1f,  0x1.22467ep-1f, 0x1.4b2c3ap-1f,
		0x1.9389p-1f,   0x1.0f8892p+0f, 0x1.b8f24cp+0f, 0x1.467938p+2f,
		0x1.0503eep-1f, 0x1.33e37ap-1f, 0x1.ccc9aep-1f, 0x1.480d9ep+1f,
		0x1.1517a8p-1f, 0x1.4e7aeap+0f, 0x1.6a09e6p-1f, 0x0p+0f
	};
	const v8 zero8 = { { 0, 0, 0, 0 }, { 0, 0, 0, 0 } };
	const v4 zero = zero8.lo;
	v8 y0, y1, y2, y3, y4, y5, y6, y7, y8, y9;
	v4 x0, x1, x2, x3, x4, x5, x6, x7, x9, x10, x11, x12;
	real *o0, *o1;

	y0 = load8(samples);
	y1 = load8(samples+8);
	y2 = load8(samples+16);
	y2 = vperm2f128(y2, y2, 0x01);
	y3 = load8(samples+24);
	y3 = vperm2f128(y3, y3, 0x01);
	y2 = vshufps(y2, y2, 0x1b);  /* samples[23..16] */
	y3 = vshufps(y3, y3, 0x1b);  /* samples[31..24] */
	y6 = vsubps(y1, y2);
	y7 = vsubps(y0, y3);
	y4 = vaddps(y3, y0);
	y5 = vaddps(y2, y1);
	y7 = vmulps(y7, load8(costab));
	y6 = vmulps(y6, load8(costab+8));

	y8 = load8(costab+16);

	y5 = vshufps(y5, y5, 0x1b);
	y6 = vshufps(y6, y6, 0x1b);
	y5 = vperm2f128(y5, y5, 0x01);
	y6 = vperm2f128(y6, y6, 0x01);
	y1 = vsubps(y4, y5);
	y3 = vsubps(y7, y6);
	y0 = vaddps(y4, y5);
	y2 = vaddps(y7, y6);
	y1 = vmulps(y8, y1);
	y3 = vmulps(y8, y3);

	y8 = load8(costab+24);
	y9 = vperm2f128(y8, y8, 0x00);

	y4 = vperm2f128(y0, y1, 0x20);
	y5 = vperm2f128(y0, y1, 0x31);
	y5 = vshufps(y5, y5, 0x1b);
	y6 = vperm2f128(y2, y3, 0x20);
	y7 = vperm2f128(y2, y3, 0x31);
	y7 = vshufps(y7, y7, 0x1b);
	y1 = vsubps(y4, y5);
	y3 = vsubps(y6, y7);
	y0 = vaddps(y4, y5);
	y2 = vaddps(y6, y7);
	y1 = vmulps(y9, y1);
	y3 = vmulps(y9, y3);

	y8 = vperm2f128(y8, y8, 0x11);
	y9 = vmovddup(y8);

	y4 = vunpcklps(y0, y1);
	y5 = vunpckhps(y0, y1);
	y6 = vunpcklps(y2, y3);
	y7 = vunpckhps(y2, y3);
	y4 = vshufps(y4, y4, 0xd8);
	y5 = vshufps(y5, y5, 0x72);
	y6 = vshufps(y6, y6, 0xd8);
	y7 = vshufps(y7, y7, 0x72);
	y1 = vsubps(y4, y5);
	y3 = vsubps(y6, y7);
	y0 = vaddps(y4, y5);
	y2 = vaddps(y6, y7);
	y1 = vmulps(y9, y1);
	y3 = vmulps(y9, y3);

	y8 = vshufps(y8, y8, 0xaa);  /* vpermilps $0xaa: cos4[0] everywhere */

	y0 = vshufps(y0, y0, 0xd8);
	y1 = vshufps(y1, y1, 0xd8);
	y2 = vshufps(y2, y2, 0xd8);
	y3 = vshufps(y3, y3, 0xd8);
	y4 = vunpcklps(y0, y1);
	y5 = vunpckhps(y0, y1);
	y6 = vunpcklps(y2, y3);
	y7 = vunpckhps(y2, y3);
	y1 = vsubps(y4, y5);
	y3 = vsubps(y6, y7);
	y0 = vaddps(y4, y5);
	y2 = vaddps(y6, y7);
	y1 = vmulps(y8, y1);
	y3 = vmulps(y8, y3);

	y5 = vblendps(zero8, y1, 0xaa);
	y6 = vblendps(zero8, y3, 0xaa);
	y0 = vaddps(y0, y5);
	y2 = vaddps(y2, y6);
	y4 = vunpcklps(y0, y1);
	y5 = vunpckhps(y0, y1);
	y6 = vunpcklps(y2, y3);
	y7 = vunpckhps(y2, y3);

	x0 = y4.hi;
	x1 = y5.hi;
	x2 = y6.hi;
	x3 = y7.hi;
	x4 = y4.lo;
	x5 = y5.lo;
	x6 = y6.lo;
	x7 = y7.lo;

	x9  = blendps(zero, shufps(x5, x5, 0x1e), 0x7);
	x10 = blendps(zero, shufps(x1, x1, 0x1e), 0x7);
	x11 = blendps(zero, shufps(x7, x7, 0x1e), 0x7);
	x12 = blendps(zero, shufps(x3, x3, 0x1e), 0x7);
	x5 = x9 + x5;
	x1 = x10 + x1;
	x7 = x11 + x7;
	x3 = x12 + x3;

	x9  = shufps(x0, x0, 0x1e);
	x10 = shufps(x2, x2, 0x1e);
	x0 = x0 + x1;
	x2 = x2 + x3;
	x9  = blendps(zero, x9, 0x7);
	x10 = blendps(zero, x10, 0x7);
	x1 = x9 + x1;
	x3 = x10 + x3;

	o0 = out0;
	o1 = out1;
	o0[16*16] = x4[0];
	o0[16*14] = x0[0];
	o0[16*12] = x5[0];
	o0[16*10] = x1[0];
	o0[16*8]  = x4[2];
	o0[16*6]  = x0[2];
	o0[16*4]  = x5[2];
	o0[16*2]  = x1[2];
	o0[0]     = x4[1];
	o1[0]     = x4[1];
	o1[16*2]  = x0[1];
	o1[16*4]  = x5[1];
	o1[16*6]  = x1[1];
	o1[16*8]  = x4[3];
	o1[16*10] = x0[3];
	o1[16*12] = x5[3];
	o1[16*14] = x1[3];

	x0 = blendps(zero, shufps(x6, x6, 0x1e), 0x7);
	x6 = x6 + x2;
	x2 = x2 + x7;
	x7 = x7 + x3;
	x3 = x3 + x0;
	o0[16*15] = x6[0];
	o0[16*13] = x2[0];
	o0[16*11] = x7[0];
	o0[16*9]  = x3[0];
	o0[16*7]  = x6[2];
	o0[16*5]  = x2[2];
	o0[16*3]  = x7[2];
	o0[16*1]  = x3[2];
	o1[16*1]  = x6[1];
	o1[16*3]  = x2[1];
	o1[16*5]  = x7[1];
	o1[16*7]  = x3[1];
	o1[16*9]  = x6[3];
	o1[16*11] = x2[3];
	o1[16*13] = x7[3];
	o1[16*15] = x3[3];
}

/* The window of the synthesis. Both kernels make 32 samples a channel from
   decwin in the x86-64 layout (512 values, 32 more, then the 512 negated in
   reverse) and 16 rows of 16 DCT values before and after b0: sample k is
   the sum of 16 products w[i]*b[i] of a row, scaled to +-1.0 (exactly, by
   2^-15). The first 16 samples take the window from decwin + 16 - bo1, 32
   values a row, and b0 forwards; the last 16 the window 512 further on and
   b0 backwards from b0 + 256. They differ in how the 16 products of a row
   are summed, as the assembly spreads them over its lanes. */
#define SCALE 0x1p-15f

/* One channel, to every other sample (synth_x86_64_float.S), four rows at
   a time, a row's products in four lanes:
     s[i] = (w[i]*b[i] + w[4+i]*b[4+i]) + (w[8+i]*b[8+i] + w[12+i]*b[12+i])
     sample = (s[0] - s[1]) + (s[2] - s[3]), the last 16: all sums */
INLINE v4 four_rows_sse(const real *w, const real *b, int back, int first)
{
	const int next = back ? -16 : 16;  /* the second row's b */
	v4 x0, x1, x2, x3, x5, x6, x7, x8, x9, x10, x11;

	x8 = load4(w) * load4(b);
	x1 = load4(w+4) * load4(b+4);
	x2 = load4(w+8) * load4(b+8);
	x3 = load4(w+12) * load4(b+12);
	x9 = load4(w+32) * load4(b+next);
	x5 = load4(w+36) * load4(b+next+4);
	x6 = load4(w+40) * load4(b+next+8);
	x7 = load4(w+44) * load4(b+next+12);
	x8 = x8 + x1;
	x3 = x3 + x2;
	x9 = x9 + x5;
	x6 = x6 + x7;
	x8 = x8 + x3;
	x9 = x9 + x6;
	w += 64;
	b += 2*next;

	x10 = load4(w) * load4(b);
	x1 = load4(w+4) * load4(b+4);
	x2 = load4(w+8) * load4(b+8);
	x3 = load4(w+12) * load4(b+12);
	x11 = load4(w+32) * load4(b+next);
	x5 = load4(w+36) * load4(b+next+4);
	x6 = load4(w+40) * load4(b+next+8);
	x7 = load4(w+44) * load4(b+next+12);
	x10 = x10 + x1;
	x3 = x3 + x2;
	x11 = x11 + x5;
	x6 = x6 + x7;
	x10 = x10 + x3;
	x11 = x11 + x6;

	/* transposed: lane i of each row into one register */
	x0 = unpckhps(x8, x9);
	x1 = unpckhps(x10, x11);
	x8 = unpcklps(x8, x9);
	x10 = unpcklps(x10, x11);
	x2 = x8;
	x3 = x0;
	x8 = movlhps(x8, x10);
	x10 = movhlps(x10, x2);
	x0 = movlhps(x0, x1);
	x1 = movhlps(x1, x3);
	if(first)
	{
		x8 = x8 - x10;
		x0 = x0 - x1;
	}
	else
	{
		x8 = x8 + x10;
		x0 = x0 + x1;
	}
	x0 = x0 + x8;
	return x0 * SCALE;
}

int synth_1to1_real_x86_64_asm(real *window, real *b0, real *samples, int bo1)
{
	const real *w = window + 16 - (bo1 & 0xf);
	int k, i;
	v4 s;
	for(k = 0; k < 16; k += 4, w += 128, b0 += 64)
	{
		s = four_rows_sse(w, b0, 0, 1);
		for(i = 0; i < 4; i++)
			samples[2*(k+i)] = s[i];
	}
	for(k = 16; k < 32; k += 4, w += 128, b0 -= 64)
	{
		s = four_rows_sse(w, b0, 1, 0);
		for(i = 0; i < 4; i++)
			samples[2*(k+i)] = s[i];
	}
	return 0;
}

/* Both channels, interleaved (synth_stereo_avx_float.S), four rows of each
   at a time, a row's products in eight lanes:
     p[i] = w[i]*b[i] + w[8+i]*b[8+i]
     sample = ((p[0] + p[2]) - (p[1] + p[3])) + ((p[4] + p[6]) - (p[5] + p[7])),
     the last 16: all sums */
INLINE v8 two_rows_avx(const real *w, const real *l, const real *r, int next, v8 *right1, v8 *left1, v8 *right0)
{
	v8 y0, y1, y2, y3, y4, y5, y6, y7, y8, y9, y10, y11;

	y8 = load8(w);
	y9 = load8(w+8);
	y10 = load8(w+32);
	y11 = load8(w+40);
	y0 = vmulps(y8, load8(l));
	y1 = vmulps(y9, load8(l+8));
	y2 = vmulps(y8, load8(r));
	y3 = vmulps(y9, load8(r+8));
	y4 = vmulps(y10, load8(l+next));
	y5 = vmulps(y11, load8(l+next+8));
	y6 = vmulps(y10, load8(r+next));
	y7 = vmulps(y11, load8(r+next+8));
	*right0 = vaddps(y2, y3);
	*left1 = vaddps(y4, y5);
	*right1 = vaddps(y6, y7);
	return vaddps(y0, y1);  /* left, first row */
}

INLINE v8 four_rows_avx(const real *w, const real *l, const real *r, int back, int first)
{
	const int next = back ? -16 : 16;
	v8 y0, y1, y2, y3, y4, y5, y6, y7, y8, y9;

	y8 = two_rows_avx(w, l, r, next, &y1, &y9, &y0);
	w += 64;
	l += 2*next;
	r += 2*next;
	y2 = two_rows_avx(w, l, r, next, &y5, &y4, &y3);

	y6 = vunpcklps(y8, y0);
	y0 = vunpckhps(y8, y0);
	y7 = vunpcklps(y9, y1);
	y1 = vunpckhps(y9, y1);
	y0 = vaddps(y0, y6);
	y1 = vaddps(y1, y7);
	y6 = vunpcklps(y2, y3);
	y2 = vunpckhps(y2, y3);
	y7 = vunpcklps(y4, y5);
	y3 = vunpckhps(y4, y5);
	y2 = vaddps(y2, y6);
	y3 = vaddps(y3, y7);

	y4 = vunpcklpd(y0, y1);
	y0 = vunpckhpd(y0, y1);
	y5 = vunpcklpd(y2, y3);
	y1 = vunpckhpd(y2, y3);
	if(first)
	{
		y0 = vsubps(y4, y0);
		y1 = vsubps(y5, y1);
	}
	else
	{
		y0 = vaddps(y4, y0);
		y1 = vaddps(y5, y1);
	}
	y2 = vperm2f128(y0, y1, 0x20);
	y3 = vperm2f128(y0, y1, 0x31);
	y0 = vaddps(y2, y3);
	y0.lo = y0.lo * SCALE;
	y0.hi = y0.hi * SCALE;
	return y0;
}

int synth_1to1_real_s_avx_asm(real *window, real *b0l, real *b0r, real *samples, int bo1)
{
	const real *w = window + 16 - bo1;
	int k;
	for(k = 0; k < 4; k++, w += 128, b0l += 64, b0r += 64, samples += 8)
		store8(samples, four_rows_avx(w, b0l, b0r, 0, 1));
	for(k = 0; k < 4; k++, w += 128, b0l -= 64, b0r -= 64, samples += 8)
		store8(samples, four_rows_avx(w, b0l, b0r, 1, 0));
	return 0;
}
