// Feeds arbitrary curl output (which carries server-chosen text) to the progress reader in uneven
// pieces, and checks that what it publishes stays in range.
#include "platform/QVLog.h"
#include "sources/TWCURLTaskInterface.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
struct Checker : TWCURLTaskDelegate
{
    void curlTaskDidComplete(TWCURLTaskInterface*) override {}
    void curlTaskPercentageComplete(TWCURLTaskInterface*, double percent) override
    {
        if (percent < 0 || percent > 100) {
            std::fprintf(stderr, "percentage out of range: %f\n", percent);
            std::abort();
        }
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Every progress line is logged; keep them off the system log.
    quorvit::LogCapture log;
    if (size == 0)
        return 0;
    const int chunk = 1 + data[0] % 97;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    auto task = TWCURLTaskInterface::initWithFileURL(QStringLiteral("http://127.0.0.1/x"));
    Checker checker;
    task->setDelegate(&checker);
    for (qsizetype i = 0; i < text.size(); i += chunk)
        task->appendOutput(text.mid(i, chunk));
    // Each piece of at most 97 characters is consumed in 79-character steps, so little is ever kept.
    if (task->currentTaskOutput().size() > 4 * (TWCURLTaskInterface::kProgressLineLength + 1)) {
        std::fprintf(stderr, "unconsumed output kept growing\n");
        std::abort();
    }
    TWCURLTaskInterface::convertTimeStringToHumanReadable(text.left(12));
    TWCURLTaskInterface::addBytesLabel(text.left(8));
    return 0;
}
