#pragma once

// The AES S-box as a circuit of ANDs and XORs over bit slices: word s[j] holds bit j
// (0 the least significant) of as many bytes as W has bits, one byte per bit position. No
// value ever becomes a memory index or a branch condition, so the time the circuit takes
// depends on neither key nor data. Internal to crypto/.
//
// The affine constant 0x63 is left out of both directions: SubBytesLinear gives S(x) ^ 0x63
// and InvSubBytesLinear gives S^-1(x ^ 0x63). The round functions fold that constant into their
// round keys instead (it passes unchanged through ShiftRows, MixColumns and InvMixColumns, which
// map a column of equal bytes to itself).

// The circuit is inlined into the rounds that use it, whatever the compiler's size limits say,
// so that the slices stay in registers across it.
#if defined(__GNUC__) || defined(__clang__)
#define VELADOR_CIRCUIT inline __attribute__((always_inline))
#else
#define VELADOR_CIRCUIT inline
#endif

namespace velador::aes_sbox {

// s[j] ^= constant bit j, for a byte constant applied to every slot.
template <class W>
inline void XorConstant(W s[8], unsigned constant) {
  for (int j = 0; j < 8; ++j) {
    if ((constant >> j) & 1) s[j] = static_cast<W>(~s[j]);
  }
}

// The 22 signals the circuit's nonlinear middle takes from its linear top layer.
template <class W>
struct TopSignals {
  W y0, y1, y2, y3, y4, y5, y6, y7, y8, y9, y10, y11, y12, y13, y14, y15, y16, y17, y18, y19, y20,
      y21;
};

// The 18 products the middle gives its linear bottom layer.
template <class W>
struct Products {
  W z0, z1, z2, z3, z4, z5, z6, z7, z8, z9, z10, z11, z12, z13, z14, z15, z16, z17;
};

// The nonlinear middle, shared by both directions: an inversion in GF(2^4) and the products
// around it (32 ANDs, 30 XORs).
template <class W>
VELADOR_CIRCUIT Products<W> Middle(const TopSignals<W>& y) {
  const W t2 = y.y12 & y.y15, t3 = y.y3 & y.y6, t4 = t3 ^ t2, t5 = y.y4 & y.y0;
  const W t6 = t5 ^ t2, t7 = y.y13 & y.y16, t8 = y.y5 & y.y1, t9 = t8 ^ t7;
  const W t10 = y.y2 & y.y7, t11 = t10 ^ t7, t12 = y.y9 & y.y11, t13 = y.y14 & y.y17;
  const W t14 = t13 ^ t12, t15 = y.y8 & y.y10, t16 = t15 ^ t12, t17 = t4 ^ t14;
  const W t18 = t6 ^ t16, t19 = t9 ^ t14, t20 = t11 ^ t16, t21 = t17 ^ y.y20;
  const W t22 = t18 ^ y.y19, t23 = t19 ^ y.y21, t24 = t20 ^ y.y18;

  const W t25 = t21 ^ t22, t26 = t21 & t23, t27 = t24 ^ t26, t28 = t25 & t27;
  const W t29 = t28 ^ t22, t30 = t23 ^ t24, t31 = t22 ^ t26, t32 = t31 & t30;
  const W t33 = t32 ^ t24, t34 = t23 ^ t33, t35 = t27 ^ t33, t36 = t24 & t35;
  const W t37 = t36 ^ t34, t38 = t27 ^ t36, t39 = t29 & t38, t40 = t25 ^ t39;

  const W t41 = t40 ^ t37, t42 = t29 ^ t33, t43 = t29 ^ t40, t44 = t33 ^ t37;
  const W t45 = t42 ^ t41;
  return {t44 & y.y15, t37 & y.y6,  t33 & y.y0,  t43 & y.y16, t40 & y.y1,  t29 & y.y7,
          t42 & y.y11, t45 & y.y17, t41 & y.y10, t44 & y.y12, t37 & y.y3,  t33 & y.y4,
          t43 & y.y13, t40 & y.y5,  t29 & y.y2,  t42 & y.y9,  t45 & y.y14, t41 & y.y8};
}

// S(x) ^ 0x63: the inversion in GF(2^8) followed by the linear part of the affine map (115
// gates: the middle's 62 between a top layer of 23 XORs and a bottom layer of 30).
template <class W>
VELADOR_CIRCUIT void SubBytesLinear(W s[8]) {
  // The circuit's inputs and outputs are numbered from the most significant bit.
  const W x0 = s[7], x1 = s[6], x2 = s[5], x3 = s[4], x4 = s[3], x5 = s[2], x6 = s[1], x7 = s[0];

  const W y14 = x3 ^ x5, y13 = x0 ^ x6, y9 = x0 ^ x3, y8 = x0 ^ x5;
  const W t0 = x1 ^ x2, y1 = t0 ^ x7, y4 = y1 ^ x3, y12 = y13 ^ y14;
  const W y2 = y1 ^ x0, y5 = y1 ^ x6, y3 = y5 ^ y8, t1 = x4 ^ y12;
  const W y15 = t1 ^ x5, y20 = t1 ^ x1, y6 = y15 ^ x7, y10 = y15 ^ t0;
  const W y11 = y20 ^ y9, y7 = x7 ^ y11, y17 = y10 ^ y11, y19 = y10 ^ y8;
  const W y16 = t0 ^ y11, y21 = y13 ^ y16, y18 = x0 ^ y16;

  const Products<W> z = Middle<W>({x7,  y1,  y2,  y3,  y4,  y5,  y6,  y7,  y8,  y9,  y10,
                                   y11, y12, y13, y14, y15, y16, y17, y18, y19, y20, y21});

  const W t46 = z.z15 ^ z.z16, t47 = z.z10 ^ z.z11, t48 = z.z5 ^ z.z13, t49 = z.z9 ^ z.z10;
  const W t50 = z.z2 ^ z.z12, t51 = z.z2 ^ z.z5, t52 = z.z7 ^ z.z8, t53 = z.z0 ^ z.z3;
  const W t54 = z.z6 ^ z.z7, t55 = z.z16 ^ z.z17, t56 = z.z12 ^ t48, t57 = t50 ^ t53;
  const W t58 = z.z4 ^ t46, t59 = z.z3 ^ t54, t60 = t46 ^ t57, t61 = z.z14 ^ t57;
  const W t62 = t52 ^ t58, t63 = t49 ^ t58, t64 = z.z4 ^ t59, t65 = t61 ^ t62;
  const W t66 = z.z1 ^ t63, t67 = t64 ^ t65;
  const W s3 = t53 ^ t66;

  s[7] = t59 ^ t63;
  s[6] = t64 ^ s3;
  s[5] = t55 ^ t67;
  s[4] = s3;
  s[3] = t51 ^ t66;
  s[2] = t47 ^ t65;
  s[1] = t56 ^ t62;
  s[0] = t48 ^ t60;
}

// S^-1(x ^ 0x63). With A the linear part of the affine map, S(x) ^ 0x63 = A(x^-1), so
// S^-1(y) = (A^-1(y ^ 0x63))^-1 and x^-1 = A^-1(S(x) ^ 0x63): the same middle, with A^-1
// folded into the top layer before it (29 XORs) and into the bottom layer after it (35).
template <class W>
VELADOR_CIRCUIT void InvSubBytesLinear(W s[8]) {
  const W x0 = s[7], x1 = s[6], x2 = s[5], x3 = s[4], x4 = s[3], x5 = s[2], x6 = s[1], x7 = s[0];

  const W y5 = x1 ^ x3, p0 = x6 ^ x7, y9 = x3 ^ x4, p1 = x1 ^ x4;
  const W y4 = y5 ^ p0, p2 = x0 ^ x5, y8 = x0 ^ x1, p3 = x2 ^ y5;
  const W y2 = p0 ^ p1, y6 = x0 ^ y5, y3 = x0 ^ x3, p4 = x0 ^ x7;
  const W p5 = x6 ^ y9, y19 = x4 ^ x7, y10 = p1 ^ p4, y12 = p0 ^ y8;
  const W y7 = x2 ^ y4, y17 = x5 ^ p5, p6 = x2 ^ p1, y1 = x7 ^ y9;
  const W y13 = p0 ^ y9, y16 = x6 ^ p6, y21 = x7 ^ p3, y0 = x2 ^ p2;
  const W y20 = p2 ^ y2, y11 = y4 ^ p2, y18 = x2 ^ y9, y15 = x5 ^ p3;
  const W y14 = x4 ^ y6;

  const Products<W> z = Middle<W>({y0,  y1,  y2,  y3,  y4,  y5,  y6,  y7,  y8,  y9,  y10,
                                   y11, y12, y13, y14, y15, y16, y17, y18, y19, y20, y21});

  const W q0 = z.z6 ^ z.z15, q1 = z.z13 ^ q0, q2 = z.z12 ^ q1, q3 = z.z16 ^ q2;
  const W q4 = z.z3 ^ z.z4, q5 = z.z8 ^ q3, q6 = z.z2 ^ z.z10, q7 = z.z1 ^ q4;
  const W q8 = z.z4 ^ z.z5, q9 = z.z9 ^ z.z17, q10 = z.z8 ^ q6, q11 = z.z14 ^ q10;
  const W q12 = z.z0 ^ q5, q13 = q7 ^ q11, q14 = z.z11 ^ q13, q15 = z.z16 ^ q0;
  const W q16 = z.z1 ^ q8, q17 = z.z0 ^ q8, q18 = z.z17 ^ q2, q19 = q1 ^ q9;
  const W q20 = z.z12 ^ q15, q21 = z.z3 ^ q5, q22 = z.z15 ^ q9, q23 = q6 ^ q18;
  const W q24 = z.z7 ^ z.z11, q25 = z.z7 ^ q3, q26 = q23 ^ q24;

  // Here the outputs are numbered from the least significant bit.
  s[0] = z.z11 ^ q22;
  s[1] = q4 ^ q25;
  s[2] = q12 ^ q16;
  s[3] = q17 ^ q26;
  s[4] = z.z2 ^ q12;
  s[5] = q14 ^ q20;
  s[6] = q13 ^ q19;
  s[7] = z.z5 ^ q21;
}

}  // namespace velador::aes_sbox
