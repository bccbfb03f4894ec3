#pragma once

#include <benchmark/benchmark.h>

// The main of a benchmark program: the Qt application object the measured code needs (a
// QCoreApplication, or a QApplication for windows), then Google Benchmark's own run.
template <typename Application>
int RunBenchmarks(int argc, char **argv)
{
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
