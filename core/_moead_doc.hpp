// Docstring paragraphs shared by the decomposition modules.
#pragma once

// The entries of ObjV, weights, idealPoint, CV and maxormins in 输入参数.
#define EVOCORE_DOC_AGGREGATION_INPUTS \
    "    ObjV       : array - 目标函数值矩阵，每一行对应一个个体，每一列对应一个目标。\n" \
    "\n" \
    "    weights    : array - 权重矩阵，每一行是一个权重向量。\n" \
    "                         当ObjV只有一行时，weights可以有多行，此时返回结果的行数等于weights的行数；\n" \
    "                         否则weights的行数必须与ObjV的行数相等。\n" \
    "\n" \
    "    idealPoint : array - (可选参数)理想点，是一个一维数组。\n" \
    "                         缺省或为None时由ObjV计算得到。\n" \
    "\n" \
    "    CV         : array - (可选参数)违反约束程度矩阵。\n" \
    "                         缺省或为None时默认所有个体都满足约束条件；\n" \
    "                         给定时按可行性法则处理。\n" \
    "\n" \
    "    maxormins  : array - (可选参数)一维数组，元素为1表示对应的目标是最小化目标，-1表示是最大化目标。\n" \
    "                         例如：array([1,1,-1,-1])表示前2个目标是最小化，后2个目标是最大化。\n" \
    "                         缺省或为None时默认全为1。\n" \
    "\n"

// 参考文献: the publication that introduced MOEA/D.
#define EVOCORE_DOC_MOEAD_REFERENCE \
    "参考文献:\n" \
    "    [1] Qingfu Zhang, Hui Li. MOEA/D: A Multiobjective Evolutionary Algorithm Based on\n" \
    "        Decomposition[J]. IEEE Transactions on Evolutionary Computation, 2007, 11(6): 712-731.\n" \
    "\n"
