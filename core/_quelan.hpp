#pragma once

// CombinObjV[i] = d1 + d2 * Theta for objective row i, weight row i and the ideal point, where
// d1 is the projection of F - z on the weight direction and d2 the distance from it.
void _quelan(const double* ObjV, int Nind, int Lind, float Theta, const double* weights, const double* idealPoint,
             double* CombinObjV, int Parallel);

// One objective row against Nind weight rows.
void _quelan_1D(const double* ObjV, int Nind, int Lind, float Theta, const double* weights,
                const double* idealPoint, double* CombinObjV, int Parallel);
