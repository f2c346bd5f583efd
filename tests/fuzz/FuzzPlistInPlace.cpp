// Arbitrary bytes through the in-place property-list readers: whatever they take on must read exactly as
// the general reader reads it, and the streaming writer must write any value read exactly as toXml does.
#include "formats/plist/BinaryPlist.h"
#include "formats/plist/PlistXmlWriter.h"
#include "formats/plist/XmlPlist.h"
#include "platform/PropertyList.h"

#include <cstdint>
#include <cstdio>

#include "FuzzSupport.h"

using fuzzsupport::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QByteArray data(reinterpret_cast<const char*>(bytes), qsizetype(size));
    std::optional<QVariant> inPlace;
    if (const auto binary = BinaryPlist::open(data))
        inPlace = binary->variant(binary->top());
    else if (const auto xml = XmlPlist::open(data))
        inPlace = xml->variant(xml->top());
    QString error;
    const auto general = quorvit::plist::fromData(data, &error);
    if (general && PlistXmlWriter::document(*general) != quorvit::plist::toXml(*general))
        fail("the streaming writer wrote other bytes than the library");
    if (!inPlace)
        return 0;
    if (!general) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(error));
        fail("read in place what the general reader refuses");
    }
    // Compared as text: NaN reals are equal there, not as values.
    const QByteArray expected = quorvit::plist::toXml(*general);
    const QByteArray read = quorvit::plist::toXml(*inPlace);
    if (read != expected) {
        std::fprintf(stderr, "general:\n%s\nin place:\n%s\n", expected.constData(), read.constData());
        fail("read in place differs from the general reader");
    }
    return 0;
}
