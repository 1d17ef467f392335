#pragma once

// CombinObjV[i] = max over j of |ObjV[i*Lind + j] - idealPoint[j]| * weights[i*Lind + j].
void _druvik(const double* ObjV, int Nind, int Lind, const double* weights, const double* idealPoint,
             double* CombinObjV, int Parallel);

// One objective row against Nind weight rows: CombinObjV[i] aggregates ObjV with weight row i.
void _druvik_1D(const double* ObjV, int Nind, int Lind, const double* weights, const double* idealPoint,
                double* CombinObjV, int Parallel);
