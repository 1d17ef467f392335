#include "_aggregation.hpp"

namespace moead {

using namespace aggregation_param;

Aggregation aggregation_inputs(const evo::Args& a, const AggregationMessages& msg) {
    Aggregation in;
    evo::require_ndarray(a[OBJV], 2, msg.ObjV);
    in.ObjV = evo::Array::coerce(a[OBJV], evo::Elem::f64, 2);
    in.Nind = in.ObjV.dim(0);
    in.Lind = in.ObjV.dim(1);

    PyObject* weights = a[WEIGHTS];
    evo::require_ndarray(weights, 2, msg.weights);
    const evo::Shape shape(weights);
    if (shape[1] != in.Lind) evo::fail(msg.disagree);
    if (shape[0] != in.Nind && in.Nind != 1) evo::fail(msg.disagree);
    in.weights = evo::Array::coerce(weights, evo::Elem::f64, 2);

    evo::working_matrix(in.ObjV, in.Nind, in.Lind, a[MAXORMINS], a[CV], {.maxormins = msg.maxormins, .CV = msg.CV});
    if (a.is_none(IDEALPOINT)) {
        in.ideal = evo::ideal_point(in.ObjV, in.Nind, in.Lind, false);
        return in;
    }
    PyObject* idealPoint = a[IDEALPOINT];
    evo::require_ndarray(idealPoint, 1, msg.idealPoint);
    if (evo::length(idealPoint) != in.Lind) evo::fail(msg.idealPoint_length);
    in.idealPoint = evo::Array::coerce(idealPoint, evo::Elem::f64, 1);
    return in;
}

}  // namespace moead
