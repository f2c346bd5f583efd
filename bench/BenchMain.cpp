// Benchmarks that run the engine need Qt's event loop on the main thread. The heap is set up as the
// command-line program sets it up (QUORVIT_SMALL_PAGES=1 leaves the allocator's defaults, to compare).
#include "platform/HeapTuning.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QUORVIT_SMALL_PAGES"))
        quorvit::tuneHeapForLargeTrees();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
