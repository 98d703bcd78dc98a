#pragma once

// The kernels of one instruction set as one type, for the loop of the peak
// trials made once for each (PeakTrials::loopOn), and the entry of the scan
// table made from such a type. Included before CLEFTSIM_BEGIN_INSTRUCTIONS:
// these are compiled for every processor.

#include "model/drawscan.h"
#include "model/peaktrial.h"

namespace cleftsim::detail::kernels {

// The kernels of each scan as one type, for a loop made once for each.
template <DrawScanFunction Find, DrawScanEachFunction FindEach, StepStatesFunction StepStates,
    StatesBelowFunction StatesBelow, AddQuantaFunction AddQuanta, SetQuantaFunction SetQuanta,
    LargestFunction Largest, AtLeastFunction AtLeast, EachBoundsFunction EachBounds,
    LaneSitesFunction LaneSites>
struct KernelSet {
    static constexpr DrawScanFunction find = Find;
    static constexpr DrawScanEachFunction findEach = FindEach;
    static constexpr StepStatesFunction stepStates = StepStates;
    static constexpr StatesBelowFunction statesBelow = StatesBelow;
    static constexpr AddQuantaFunction addQuanta = AddQuanta;
    static constexpr SetQuantaFunction setQuanta = SetQuanta;
    static constexpr LargestFunction largest = Largest;
    static constexpr AtLeastFunction atLeast = AtLeast;
    static constexpr EachBoundsFunction eachBounds = EachBounds;
    static constexpr LaneSitesFunction laneSites = LaneSites;
};

// The entry of the scan table for the kernels K. (Compiled for every
// processor: the table is made on every one.)
template <class K> DrawScan scanOf(const char *name, const char *features)
{
    return {name, features, false, K::find, K::findEach, K::stepStates, K::statesBelow, K::addQuanta,
        K::setQuanta, K::largest, K::atLeast, K::eachBounds, K::laneSites, &PeakTrials::loopOn<K>};
}

} // namespace cleftsim::detail::kernels
