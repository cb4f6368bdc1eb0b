// The connection string: reading any text, and the round trip of any four settings.
#include "fuzzsupport.h"

#include "connectionstring.h"

#include <QStringList>

using namespace Orvantel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    const ConnectionString::Reader any(text);
    (void)any.settings();

    // Four settings separated by a byte that cannot appear in UTF-8 text.
    const QStringList parts
            = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)).split(QChar(0xFFFD));
    ConnectionSettings settings;
    settings.server = parts.value(0);
    settings.database = parts.value(1);
    settings.userId = parts.value(2);
    settings.password = parts.value(3);
    const QString built = ConnectionString::build(settings);
    const ConnectionString::Reader reader(built);
    // Whatever a setting holds, it comes back as itself and adds no other key.
    FUZZ_ASSERT(reader.settings() == settings);
    FUZZ_ASSERT(reader.value(QStringLiteral("Provider")) == QLatin1String("SQLOLEDB.1"));
    FUZZ_ASSERT(reader.value(QStringLiteral("Persist Security Info")) == QLatin1String("False"));
    return 0;
}
