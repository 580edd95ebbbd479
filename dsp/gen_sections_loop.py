#!/usr/bin/env python3
# Writes the x87 loop of a cascade of K second-order sections for dspSections.cpp
# (VURNEL_SECTIONS_LOOP_K), tracking which value sits in which x87 register after each push, pop
# and exchange, and checking that no more than eight are live.
#
#   python3 dsp/gen_sections_loop.py K STAGES SPLIT
#
# K: sections (2 to 4); STAGES: the stages (1..K, comma-separated, may be empty) whose older output
# stays in a register (the others are stored once and loaded where used); SPLIT: how many of the
# 5K coefficients to take as hi + lo (spread evenly over B0 B1 B2 A1 A2 of each section in turn).
# The loops in dspSections.cpp: "2 1,2 6", "3 2 12", "4 '' 18". STAGES "0" writes the loop that
# runs two samples at once instead (VURNEL_SECTION_PAIRS_K): "3 0 15", "4 0 20". Run clang-format
# afterwards.
import sys

def gen(K, regb, split):
    """regb: set of stages k (1..K) whose b (y[n-2]) stays in a register; split: set of (k, j)
    coefficients (section k 1-based, j 0..4 = B0 B1 B2 A1 A2) taken as hi + lo."""
    out = []
    st = []  # st[0] = top
    def emit(s): out.append(s)
    def pos(name): return st.index(name)
    def push(name):
        st.insert(0, name)
        assert len(st) <= 8, st
    def pop(): st.pop(0)
    def coef(k, j):
        off = (k - 1) * 160 + j * 32
        if (k, j) in split:
            emit(f"fldl {off + 16}(%[c])"); emit(f"faddl {off + 24}(%[c])")
        else:
            emit(f"fldt {off}(%[c])")
        push('coef')
    # canonical order at the loop top
    canon = []
    for k in range(1, K + 1):
        canon.append(f'a{k}')
        if k in regb: canon.append(f'b{k}')
    # entry: push in reverse so that canon[0] ends at st0
    for name in reversed(canon):
        k = int(name[1:])
        idx = 0 if name[0] == 'a' else 1
        emit(f"fldt {(k) * 32 + idx * 16}(%[s])")
        push(name)
    emit(".p2align 6"); emit("1:")
    def mul_into_acc(k, j, operand, sub):
        # acc (st0 before) op= coef * operand ; operand: ('reg', name) | ('x', idx) | ('mem', k)
        coef(k, j)
        if operand[0] == 'reg':
            emit(f"fmul %%st({pos(operand[1])}), %%st")
        elif operand[0] == 'x':
            emit(f"fmul%[t] {-operand[1]}*%c[step](%[x])" if operand[1] else "fmul%[t] (%[x])")
        else:  # memory b of stage operand[1]
            emit(f"fldt {operand[1] * 16}(%[m])"); push('tmp')
            emit("fmulp %st, %st(1)"); pop()
        if j == 0:
            st[0] = 'acc'
            return
        assert st[1] == 'acc'
        emit("fsubrp %st, %st(1)" if sub else "faddp %st, %st(1)"); pop()
    def drop(name):
        # remove a value: bring it to the top and pop it
        i = pos(name)
        if i:
            emit(f"fxch %st({i})"); st[0], st[i] = st[i], st[0]
        emit("fstp %st(0)"); pop()
    for k in range(1, K + 1):
        # section k: input x, x1, x2 from stage k-1
        if k == 1:
            xo, x1o, x2o = ('x', 0), ('x', 1), ('x', 2)
        else:
            xo = ('reg', 'in')
            x1o = ('reg', f'a{k-1}')
            x2o = ('reg', f'b{k-1}') if (k - 1) in regb else ('mem', k - 1)
        y1o = ('reg', f'a{k}')
        y2o = ('reg', f'b{k}') if k in regb else ('mem', k)
        mul_into_acc(k, 0, xo, False)
        mul_into_acc(k, 1, x1o, False)
        mul_into_acc(k, 2, x2o, False)
        mul_into_acc(k, 3, y1o, True)
        mul_into_acc(k, 4, y2o, True)
        # acc = y_k[n]; stage k-1 turns: b <- a, a <- in
        if k > 1:
            p = k - 1
            if p in regb:
                drop(f'b{p}')
                st[pos(f'a{p}')] = f'b{p}'
            else:
                emit(f"fld %st({pos(f'a{p}')})"); push('tmp')
                emit(f"fstpt {p * 16}(%[m])"); pop()
                drop(f'a{p}')
            st[pos('in')] = f'a{p}'
        st[pos('acc')] = 'in'
    # output
    if pos('in'):
        i = pos('in'); emit(f"fxch %st({i})"); st[0], st[i] = st[i], st[0]
    emit("fst%[t] (%[out])")
    # stage K turns
    if K in regb:
        drop(f'b{K}')
        st[pos(f'a{K}')] = f'b{K}'
    else:
        emit(f"fld %st({pos(f'a{K}')})"); push('tmp')
        emit(f"fstpt {K * 16}(%[m])"); pop()
        drop(f'a{K}')
    st[pos('in')] = f'a{K}'
    # permute to canonical order with fxch (selection through st0)
    assert sorted(st) == sorted(canon), (st, canon)
    # bring canon order: repeatedly fix positions using fxch via st0
    def fx(i):
        emit(f"fxch %st({i})"); st[0], st[i] = st[i], st[0]
    for i in range(len(canon) - 1, -1, -1):
        if st[i] == canon[i]: continue
        j = pos(canon[i])
        if i == 0:
            fx(j); continue
        if j != 0: fx(j)       # wanted value to top
        fx(i)                  # into place
    assert st == canon, (st, canon)
    emit("add %[step], %[x]")
    emit("add %[step], %[out]")
    emit("dec %[n]")
    emit("jnz 1b")
    for i, name in enumerate(list(st)):
        k = int(name[1:]); idx = 0 if name[0] == 'a' else 1
        emit(f"fstpt {k * 32 + idx * 16}(%[s])"); pop()
    return out

def fmt(K, lines):
    res = [f"#define VURNEL_SECTIONS_LOOP_{K}(T, STEP) \\"]
    for l in lines:
        l = l.replace('%st', '%%st').replace('%%%st', '%%st')
        l = l.replace('%[t]', '" T "').replace('*%c[step]', '*" STEP "').replace('%[step]', '$" STEP "')
        res.append(f'    "{l}\\n\\t" \\')
    res[-1] = res[-1][:-2]
    return "\n".join(res)

def gen_pairs(K, split):
    """Two samples (n, n + 1) through the K sections at once, each coefficient brought in once
    for both: section k's sums A (for n) and B (for n + 1) in Cascade's order, B's feedback terms
    after A is complete. Section 1's inputs are memory operands from the copy; a later section's
    are the last one's outputs and histories, in registers. The stack is empty between pairs."""
    out = []
    st = []
    def emit(s): out.append(s)
    def pos(name): return st.index(name)
    def push(name):
        st.insert(0, name)
        assert len(st) <= 8, st
    def pop(): st.pop(0)
    def fx(i):
        if i:
            emit(f"fxch %st({i})"); st[0], st[i] = st[i], st[0]
    def top(name): fx(pos(name))
    def coef(k, j, name):
        off = (k - 1) * 160 + j * 32
        if (k, j) in split:
            emit(f"fldl {off + 16}(%[c])"); emit(f"faddl {off + 24}(%[c])")
        else:
            emit(f"fldt {off}(%[c])")
        push(name)
    def mac(acc, c, operand, last_c, last_op, sub=False):
        """acc ±= c·operand (acc None: the product becomes a new sum, named by `sub`)."""
        if operand[0] == 'x':
            mem = f"fmul%[t] {operand[1]}*%c[step](%[x])" if operand[1] else "fmul%[t] (%[x])"
            if last_c:
                top(c); emit(mem)
            else:
                emit(f"fld %st({pos(c)})"); push('p'); emit(mem)
            st[0] = 'p'
        else:
            o = operand[1]
            if last_c and last_op:
                top(c); emit(f"fmulp %st, %st({pos(o)})"); i = pos(o); pop(); st[i - 1] = 'p'
                top('p')
            elif last_c:
                top(c); emit(f"fmul %st({pos(o)}), %st"); st[0] = 'p'
            elif last_op:
                top(o); emit(f"fmul %st({pos(c)}), %st"); st[0] = 'p'
            else:
                emit(f"fld %st({pos(c)})"); push('p'); emit(f"fmul %st({pos(o)}), %st")
        if acc is None:
            st[0] = sub
            return
        emit(f"{'fsubrp' if sub else 'faddp'} %st, %st({pos(acc)})"); pop()
    for k in range(1, K + 1):
        if k == 1:
            xa, xb, h1, h2 = ('x', 0), ('x', -1), ('x', 1), ('x', 2)
        else:
            xa, xb, h1, h2 = ('r', 'A'), ('r', 'B'), ('r', 'Y1'), ('r', 'Y2')
            for name in ('A', 'B', 'Y1', 'Y2'):
                st[pos(name)] = name + 'in'
            xa, xb, h1, h2 = ('r', 'Ain'), ('r', 'Bin'), ('r', 'Y1in'), ('r', 'Y2in')
        def x_(o):  # memory offsets are in samples back: x(n+1) is -(-1)
            return ('x', -o[1]) if o[0] == 'x' else o
        xa, xb, h1, h2 = x_(xa), x_(xb), x_(h1), x_(h2)
        coef(k, 0, 'C')
        mac(None, 'C', xa, False, False, 'A')
        mac(None, 'C', xb, True, True, 'B')
        coef(k, 1, 'C')
        mac('A', 'C', h1, False, False)
        mac('B', 'C', xa, True, True)
        coef(k, 2, 'C')
        mac('A', 'C', h2, False, True)
        mac('B', 'C', h1, True, True)
        last = k == K
        emit(f"fldt {32 * k + 16}(%[s])"); push('Y2')
        emit(f"fldt {32 * k}(%[s])"); push('Y1')
        coef(k, 3, 'A1')
        mac('A', 'A1', ('r', 'Y1'), False, False, True)
        coef(k, 4, 'A2')
        mac('A', 'A2', ('r', 'Y2'), False, last, True)
        mac('B', 'A1', ('r', 'A'), True, False, True)
        mac('B', 'A2', ('r', 'Y1'), True, last, True)
        # y(n + 1) is the section's last output, y(n) the one before
        if last:
            top('B'); emit("fst%[t] %c[step](%[out])"); emit(f"fstpt {32 * k}(%[s])"); pop()
            top('A'); emit("fst%[t] (%[out])"); emit(f"fstpt {32 * k + 16}(%[s])"); pop()
        else:
            emit(f"fld %st({pos('B')})"); push('t'); emit(f"fstpt {32 * k}(%[s])"); pop()
            emit(f"fld %st({pos('A')})"); push('t'); emit(f"fstpt {32 * k + 16}(%[s])"); pop()
    assert not st, st
    emit("add $2*%c[step], %[x]")
    emit("add $2*%c[step], %[out]")
    emit("dec %[n]")
    emit("jnz 1b")
    return [".p2align 6", "1:"] + out

def fmt_pairs(K, lines):
    res = [f"#define VURNEL_SECTION_PAIRS_{K}(T, STEP) \\"]
    for l in lines:
        l = l.replace('%st', '%%st').replace('%%%st', '%%st')
        l = l.replace('%[t]', '" T "').replace('%c[step]', '" STEP "')
        res.append(f'    "{l}\\n\\t" \\')
    res[-1] = res[-1][:-2]
    return "\n".join(res)

if __name__ == '__main__':
    K = int(sys.argv[1])
    regb = set(int(v) for v in sys.argv[2].split(',') if v)
    # argv[3]: how many of the 5K coefficients to split, spread evenly
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    total = 5 * K
    split = set()
    for i in range(total):
        if (i * count) // total != ((i + 1) * count) // total:
            split.add((i // 5 + 1, i % 5))
    if regb == {0}:  # "0": the pair loop
        print(fmt_pairs(K, gen_pairs(K, split)))
    else:
        print(fmt(K, gen(K, regb, split)))
