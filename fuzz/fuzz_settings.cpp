// The settings-file reader on arbitrary file contents.
#include "fuzzsupport.h"

#include "modini.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const char *key : {"DBServerName", "RefreshInterval", "AssetList", "IncludePMWOs", "Division"}) {
        const QString value = modINI::readProfileString(contents, QStringLiteral("Orvantel"), QLatin1String(key),
                                                        QStringLiteral(" d "));
        // Values come back trimmed and on one line.
        FUZZ_ASSERT(value == value.trimmed());
        FUZZ_ASSERT(!value.contains(u'\n'));
    }
    return 0;
}
