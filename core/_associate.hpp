#pragma once

// Association of the rows of ObjV (Nind x M, row-major) with the reference lines through the
// origin and the rows of refpoints (K x M): u = w / sqrt(sum of w_k^2) per reference row; for a
// row f, p = sum of f_k u_k and d^2 = sum of (f_k - p u_k)^2, every sum from the left starting at
// 0.0.  index[i] is the first reference with the smallest d^2 and distance[i] its square root; a
// row with a NaN, or whose every d^2 is NaN, gets index -1 and distance NaN.
//
// Returns false, writing nothing, when a reference row's length is not a positive finite number.
// Scratch memory that cannot be allocated throws std::bad_alloc.
bool _associate(const double* ObjV, int Nind, int M, const double* refpoints, int K, int* index, double* distance);

#include "_forms.hpp"

// The forms of the association loop: AVX2 and the x86-64 baseline, rows side by side in vectors
// of four or two doubles.
evo::FormChoice& _associate_forms();
