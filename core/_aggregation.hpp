// The inputs of the decomposition aggregations (MOEA/D's druvik and quelan): their shared
// parameters, messages and checks, and what their kernels are handed.
#pragma once

#include "../frame/frame.hpp"
#include "../frame/objective.hpp"

#include <cstdint>

namespace moead {

// The parameters that the aggregations declare first, in this order: a module's list begins
// with EVOCORE_AGGREGATION_PARAMS(ENTRY), and aggregation_inputs reads them by these names.
#define EVOCORE_AGGREGATION_PARAMS(ENTRY)       \
    ENTRY(OBJV, evo::required("ObjV"))          \
    ENTRY(WEIGHTS, evo::required("weights"))    \
    ENTRY(IDEALPOINT, evo::optional("idealPoint")) \
    ENTRY(CV, evo::optional("CV"))              \
    ENTRY(MAXORMINS, evo::optional("maxormins"))
namespace aggregation_param {
enum AggregationParam { EVOCORE_AGGREGATION_PARAMS(EVOCORE_TABLE_NAME) };
}

// The messages of those checks in `module`'s words, for the module's message list.
#define EVOCORE_AGGREGATION_MESSAGES(ENTRY, module)                                                              \
    ENTRY(M_OBJV, "error in " module ": ObjV must be a Numpy ndarray. (ObjV必须是numpy的array类型矩阵。)")       \
    ENTRY(M_WEIGHTS, "error in " module ": weights must be a Numpy ndarray. (weights必须是numpy的array类型矩阵。)") \
    ENTRY(M_DISAGREE, "error in " module ": weights and ObjV disagree. (weights和ObjV不匹配，详见help()帮助文档。)") \
    ENTRY(M_MAXORMINS, "error in " module ": maxormins and ObjV disagree. "                                        \
                   "(输入参数maxormins和ObjV不匹配，详见help()帮助文档。)")                                    \
    ENTRY(M_CV, "error in " module ": CV and ObjV disagree. (违反约束程度矩阵的行数必须和目标函数值矩阵的行数相同。)") \
    ENTRY(M_IDEALPOINT, "error in " module ": idealPoint must be a 1-D Numpy ndarray. "                            \
                    "(输入参数idealPoint必须是一个numpy ndarray类型的一维数组。)")                              \
    ENTRY(M_IDEALPOINT_LEN, "error in " module ": The length of idealPoint must be equal to the column number of ObjV. " \
                        "(输入参数idealPoint的长度必须等于ObjV的列数。)")

// Where those messages are in a module's list.
struct AggregationMessages {
    int ObjV, weights, disagree, maxormins, CV, idealPoint, idealPoint_length;
};
#define EVOCORE_AGGREGATION_GROUP                                                                          \
    moead::AggregationMessages {                                                                          \
        .ObjV = M_OBJV, .weights = M_WEIGHTS, .disagree = M_DISAGREE, .maxormins = M_MAXORMINS, .CV = M_CV, \
        .idealPoint = M_IDEALPOINT, .idealPoint_length = M_IDEALPOINT_LEN                                   \
    }

// What an aggregation kernel is handed: the data, the counts and the result column.
struct AggregationData {
    const double *ObjV, *weights, *idealPoint;
    double* out;
    int rows, Lind;
    std::int64_t work;  // element operations
};

// The checked and coerced inputs of an aggregation kernel, or the ideal point of the working
// matrix when idealPoint is None (then `ideal` is set and nothing else is).
struct Aggregation {
    evo::Ref ideal;
    evo::Array ObjV, weights, idealPoint;
    Py_ssize_t Nind = 0, Lind = 0;

    // One objective row is aggregated against every weight row; else row i against row i.
    bool one_row() const { return Nind == 1; }
    // Rows of the result: Nind, or the number of weight rows in the one-row case.
    Py_ssize_t rows() const { return one_row() ? weights.dim(0) : Nind; }
    const double* objectives() const { return ObjV.matrix(one_row() ? 1 : Nind, Lind); }
    const double* weight_rows() const { return weights.matrix(rows(), Lind); }
    const double* ideal_point() const { return idealPoint.vector(Lind); }
    // The kernel's arguments, with the result column `out` (rows() x 1).
    AggregationData data(evo::Output& out) const {
        const int n = evo::to_int(rows()), L = evo::to_int(Lind);
        return {objectives(), weight_rows(), ideal_point(), out.out_matrix(rows(), 1), n, L, (std::int64_t)n * L};
    }
};

// ObjV, weights, the working matrix from maxormins and CV, then idealPoint, in that order.
Aggregation aggregation_inputs(const evo::Args& a, const AggregationMessages& msg);

}  // namespace moead
