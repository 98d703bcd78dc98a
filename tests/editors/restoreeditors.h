#pragma once

#include "model/parameterset.h"
#include "widgets/currentmodel.h"
#include "widgets/windowset.h"

namespace cleftsim::test {

// Writes Scheme Settings as a restore of the current set with these values does.
inline void restoreScheme(int N, double Rg, double V2)
{
    ParameterSet s = model().LPC;
    s.N = N;
    s.Rg = Rg;
    s.V2 = V2;
    windows().editors[1]->restoreFrom(s);
}

// Writes Presynaptic Settings as a restore of the current set with these values does.
inline void restorePresynaptic(double Emax, double V1r, double du, double ex, double gf)
{
    ParameterSet s = model().LPC;
    s.Emax = Emax;
    s.V1r = V1r;
    s.du = du;
    s.ex = ex;
    s.gf = gf;
    windows().editors[2]->restoreFrom(s);
}

// Writes Subsynaptic Settings as a restore of the current set with these values does.
inline void restoreSubsynaptic(double Gmax, double tc, double Gb)
{
    ParameterSet s = model().LPC;
    s.Gmax = Gmax;
    s.tc = tc;
    s.Gb = Gb;
    windows().editors[3]->restoreFrom(s);
}

} // namespace cleftsim::test
