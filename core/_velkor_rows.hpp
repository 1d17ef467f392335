// The row encoder of the binary/Gray kernel, included by _velkor.cpp once per width: kLanes digits
// are written together, 4 (the x86-64 baseline) or 8 (AVX2, chosen at run time).  Every step is
// exact (one IEEE division per code, then integer digit arithmetic), so both widths give the same
// bits.  This file is included inside a namespace that defines kLanes; it includes nothing.

typedef std::int32_t Lanes __attribute__((vector_size(4 * kLanes)));
typedef std::uint32_t ULanes __attribute__((vector_size(4 * kLanes)));

// int32(y): truncation toward zero; NaN and values whose truncation leaves the int32 range give
// -2^31 (the x86 "integer indefinite").
inline std::int32_t to_int32(double y) {
    return (y > -2147483649.0 && y < 2147483648.0) ? (std::int32_t)y : INT32_MIN;
}

// Digits by C's truncating division and sign-of-dividend remainder: digit k of code v is
// sign(v) * bit (len-1-k) of |v|, so the digits are those of the low len bits t of |v|, or of
// t ^ (t >> 1) for Gray code (each digit XOR the one before it, the first against 0: digits that
// share one sign XOR like bits), negated for a negative v.  A group of kLanes digits is
// ((G & P) == P) & M per lane, with P the lanes' place values and M = sign(v).  Lanes past the
// segment (P = 0) receive M: a segment writes them only where later digits of the same thread's
// rows are written over them.
template <int Groups>
inline void write_groups(std::uint32_t g, std::int32_t m, const std::uint32_t* place, std::int32_t* out) {
    const ULanes G = g - ULanes{};
    const Lanes M = m - Lanes{};
    for (int q = 0; q < Groups; ++q) {
        ULanes P;
        std::memcpy(&P, place + kLanes * q, sizeof P);
        const Lanes digit = (Lanes)((G & P) == P) & M;
        std::memcpy(out + kLanes * q, &digit, sizeof digit);
    }
}

constexpr int kMaxGroups = 32 / kLanes;

// write_groups<groups>, for groups from 1 to G.
template <int G>
inline void write_some_groups(int groups, std::uint32_t g, std::int32_t m, const std::uint32_t* place,
                              std::int32_t* out) {
    if constexpr (G > 0) {
        if (groups == G) return write_groups<G>(g, m, place, out);
        write_some_groups<G - 1>(groups, g, m, place, out);
    }
}

// The low len bits of |v| (mask 2^len - 1), Gray-coded when `gray` is all ones.
inline std::uint32_t segment_bits(std::int32_t v, std::uint32_t mask, std::uint32_t gray) {
    const std::uint32_t t = (v < 0 ? 0u - (std::uint32_t)v : (std::uint32_t)v) & mask;
    return t ^ ((t >> 1) & gray);
}

// Segment sg of code v: in whole groups when the rest of the row takes the spill, else exactly.
inline void write_segment(std::int32_t v, const Segment& sg, std::int32_t* __restrict out) {
    if (sg.len == 0) return;
    const std::uint32_t g = segment_bits(v, sg.mask, sg.gray);
    const std::int32_t m = v < 0 ? -1 : 1;  // a set digit: -1 of a negative code, else 1
    const std::uint32_t* place = kPlace.v + (32 - sg.len);
    if (sg.rest >= kLanes - 1)
        return write_some_groups<kMaxGroups>((sg.len + kLanes - 1) / kLanes, g, m, place, out);
    std::int32_t digits[32];
    write_groups<kMaxGroups>(g, m, place, digits);
    std::memcpy(out, digits, (std::size_t)sg.len * sizeof(std::int32_t));
}

// The codes of the row x, computed side by side kChunk variables at a time, then handed in
// variable order to write(j, v, out), which writes segment j at out and returns where the next
// one starts.
template <class Write>
inline void for_codes(const Tables& T, const double* __restrict x, std::int32_t* out, Write&& write) {
    const double *__restrict scale = T.scale, *__restrict lb = T.lb, *__restrict range = T.range,
                             *__restrict shift = T.shift;
    const std::ptrdiff_t N = T.Nvar;
    std::int32_t v[kChunk];
    for (std::ptrdiff_t j0 = 0; j0 < N; j0 += kChunk) {
        const int n = (int)(N - j0 < kChunk ? N - j0 : kChunk);
        for (int j = 0; j < n; ++j) {
            const std::ptrdiff_t k = j0 + j;
            v[j] = to_int32(scale[k] * (x[k] - lb[k]) / range[k] + shift[k]);
        }
        for (int j = 0; j < n; ++j) out = write(j0 + j, v[j], out);
    }
}

void encode_row(const Tables& T, const double* x, std::int32_t* out) {
    const Segment* seg = T.seg;
    for_codes(T, x, out, [seg](std::ptrdiff_t j, std::int32_t v, std::int32_t* to) {
        write_segment(v, seg[j], to);
        return to + seg[j].len;
    });
}

// Rows [begin, end) when every segment has the same length, each in Groups groups; the caller
// ends the range where the rest of its rows could not take the spill of a last segment.
template <int Groups>
void encode_uniform_rows(const Tables& T, const double* Phen, std::int32_t* Chrom, std::int64_t begin,
                         std::int64_t end) {
    const Segment* __restrict seg = T.seg;
    const std::uint32_t mask = seg[0].mask;
    const int len = seg[0].len;
    const std::uint32_t* place = kPlace.v + (32 - len);
    for (std::int64_t i = begin; i < end; ++i) {
        for_codes(T, Phen + i * T.Nvar, Chrom + i * T.Lind, [=](std::ptrdiff_t j, std::int32_t v, std::int32_t* to) {
            write_groups<Groups>(segment_bits(v, mask, seg[j].gray), v < 0 ? -1 : 1, place, to);
            return to + len;
        });
    }
}

template <int G>
void uniform_rows_upto(int groups, const Tables& T, const double* Phen, std::int32_t* Chrom, std::int64_t begin,
                       std::int64_t end) {
    if constexpr (G > 0) {
        if (groups == G) return encode_uniform_rows<G>(T, Phen, Chrom, begin, end);
        uniform_rows_upto<G - 1>(groups, T, Phen, Chrom, begin, end);
    }
}

// Rows [begin, end) of one thread.  With equal lengths (the usual case) the rows take a loop
// without per-segment dispatch, but for the last ones, followed in the range by fewer than
// kLanes - 1 digits.
void encode_range(const Tables& T, const double* Phen, std::int32_t* Chrom, std::int64_t begin, std::int64_t end) {
    std::int64_t i = begin;
    if (T.uniform_len > 0) {
        const std::int64_t last_rows = (kLanes - 1 + T.Lind - 1) / T.Lind;
        if (end - begin > last_rows) {
            uniform_rows_upto<kMaxGroups>((T.uniform_len + kLanes - 1) / kLanes, T, Phen, Chrom, begin,
                                          end - last_rows);
            i = end - last_rows;
        }
    }
    for (; i < end; ++i) encode_row(T, Phen + i * T.Nvar, Chrom + i * T.Lind);
}
