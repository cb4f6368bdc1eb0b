#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace Bench {

double median(std::vector<double> samples)
{
    if (samples.empty())
        return std::numeric_limits<double>::quiet_NaN();
    const std::size_t middle = samples.size() / 2;
    std::nth_element(samples.begin(), samples.begin() + std::ptrdiff_t(middle), samples.end());
    const double upper = samples[middle];
    if (samples.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(samples.begin(), samples.begin() + std::ptrdiff_t(middle));
    return (lower + upper) / 2;
}

double Comparison::ratio() const
{
    if (!(baseline > 0))
        return std::numeric_limits<double>::quiet_NaN();
    return ours / baseline;
}

bool Comparison::met() const
{
    if (std::isnan(target))
        return checkPassed;
    const double r = ratio();
    return !std::isnan(r) && r <= target;
}

void Report::add(const Comparison &comparison)
{
    m_comparisons.push_back(comparison);
    std::fprintf(m_out, "%s\n", qPrintable(line(comparison)));
    if (!comparison.note.isEmpty())
        std::fprintf(m_out, "    %s\n", qPrintable(comparison.note));
    std::fflush(m_out);
}

QString Report::line(const Comparison &c)
{
    const auto figure = [&c](double value) { return QStringLiteral("%1 %2").arg(value, 9, 'f', 1).arg(c.unit, -3); };
    const double r = c.ratio();
    const QString ratio = std::isnan(r) ? QStringLiteral("  n/a") : QStringLiteral("%1").arg(r, 5, 'f', 2);
    const QString target = std::isnan(c.target) ? c.check : QStringLiteral("<= %1").arg(c.target, 4, 'f', 2);
    QString verdict = c.met() ? QStringLiteral("met") : QStringLiteral("MISSED");
    if (c.informational)
        verdict += QStringLiteral(" (informational)");
    return QStringLiteral("%1  ours %2  baseline %3  ratio %4  target %5  %6")
            .arg(c.scenario, -46)
            .arg(figure(c.ours), figure(c.baseline), ratio, target, verdict);
}

QString Report::summary() const
{
    const auto met
            = std::count_if(m_comparisons.begin(), m_comparisons.end(), [](const Comparison &c) { return c.met(); });
    return QStringLiteral("%1 of %2 targets met").arg(met).arg(m_comparisons.size());
}

QByteArray Report::toJson() const
{
    // JSON has no NaN: a ratio without a baseline is written as null.
    const auto number = [](double value) { return std::isnan(value) ? QJsonValue() : QJsonValue(value); };
    QJsonArray list;
    for (const Comparison &c : m_comparisons) {
        QJsonObject entry;
        entry.insert(QStringLiteral("scenario"), c.scenario);
        entry.insert(QStringLiteral("ours"), number(c.ours));
        entry.insert(QStringLiteral("baseline"), number(c.baseline));
        entry.insert(QStringLiteral("unit"), c.unit);
        entry.insert(QStringLiteral("ratio"), number(c.ratio()));
        entry.insert(QStringLiteral("target"), std::isnan(c.target) ? QJsonValue(c.check) : QJsonValue(c.target));
        entry.insert(QStringLiteral("met"), c.met());
        list.append(entry);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

bool Report::writeJson(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(toJson()) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace Bench
