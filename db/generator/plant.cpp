#include "plant_p.h"

#include <QDate>
#include <QSet>

#include <iterator>

namespace Orvantel::DemoData {

namespace {

constexpr qint64 Day = 24 * 60 * 60;
// Seconds from the start of today. The plant's eighteen months end with the open
// work orders of the last weeks; the completed and closed ones come before them,
// and the upcoming preventive maintenance falls in the weeks from tomorrow on.
constexpr qint64 HistoryStart = -548 * Day;
constexpr qint64 OpenStart = -OpenWeeks * 7 * Day;
constexpr qint64 UpcomingStart = Day;
constexpr qint64 UpcomingEnd = UpcomingStart + UpcomingWeeks * 7 * Day;

struct AssetRow
{
    const char *code;
    const char *descr;
    const char *type;
    const char *location;
    const char *department;
    AssetFamily family;
};

const AssetRow assetRows[] = {
        {"MX-101", "Batch mixer 1 (2,000 l)", "Mixer", "Mixing hall", "MIX", AssetFamily::Rotating},
        {"MX-102", "Batch mixer 2 (2,000 l)", "Mixer", "Mixing hall", "MIX", AssetFamily::Rotating},
        {"MX-103", "High-shear mixer", "Mixer", "Mixing hall", "MIX", AssetFamily::Rotating},
        {"P-101", "Transfer pump, mixer 1", "Pump", "Mixing hall", "MIX", AssetFamily::Pump},
        {"P-102", "Transfer pump, mixer 2", "Pump", "Mixing hall", "MIX", AssetFamily::Pump},
        {"P-103", "Dosing pump - colourant", "Pump", "Mixing hall", "MIX", AssetFamily::Pump},
        {"P-104", nullptr, "Pump", "Mixing hall", "MIX", AssetFamily::Pump},
        {"TK-101", "Premix tank", "Tank", "Mixing hall", "MIX", AssetFamily::Steam},
        {"TK-102", "Holding tank", "Tank", "Mixing hall", "MIX", AssetFamily::Steam},
        {"CV-101", "Raw material screw conveyor", "Conveyor", "Mixing hall", "MIX", AssetFamily::Conveyor},
        {"AG-101", "Agitator, premix tank", "Agitator", "Mixing hall", "MIX", AssetFamily::Rotating},
        {"PR-201", "Hydraulic press 250 t", "Press", "Press shop", "PRESS", AssetFamily::Press},
        {"PR-202", "Hydraulic press 400 t", "Press", "Press shop", "PRESS", AssetFamily::Press},
        {"PR-203", "Mechanical press 160 t", "Press", "Press shop", "PRESS", AssetFamily::Press},
        {"HPU-201", "Hydraulic power unit, press line", "Hydraulic unit", "Press shop", "PRESS", AssetFamily::Press},
        {"CV-201", "Press infeed conveyor", "Conveyor", "Press shop", "PRESS", AssetFamily::Conveyor},
        {"CV-202", "Press outfeed conveyor", "Conveyor", "Press shop", "PRESS", AssetFamily::Conveyor},
        {"RB-201", "Unloading robot cell", "Robot", "Press shop", "PRESS", AssetFamily::Press},
        {"P-201", "Hydraulic oil cooling pump", "Pump", "Press shop", "PRESS", AssetFamily::Pump},
        {"FN-201", "Press hall extraction fan", "Fan", "Press shop roof", "PRESS", AssetFamily::Rotating},
        {"CR-201", "Overhead crane 10 t", "Crane", "Press shop", "PRESS", AssetFamily::Vehicle},
        {"BLR-1", "Steam boiler 1 (6 t/h)", "Boiler", "Boiler house", "STEAM", AssetFamily::Steam},
        {"BLR-2", "Steam boiler 2 (6 t/h)", "Boiler", "Boiler house", "STEAM", AssetFamily::Steam},
        {"BLR-3", nullptr, "Boiler", "Boiler house", "STEAM", AssetFamily::Steam},
        {"P-301", "Boiler feed pump A", "Pump", "Boiler house", "STEAM", AssetFamily::Pump},
        {"P-302", "Boiler feed pump B", "Pump", "Boiler house", "STEAM", AssetFamily::Pump},
        {"WT-301", "Water softener", "Water treatment", "Boiler house", "STEAM", AssetFamily::Steam},
        {"DA-301", "Deaerator", "Deaerator", "Boiler house", "STEAM", AssetFamily::Steam},
        {"HX-301", "Condensate heat exchanger", "Heat exchanger", "Boiler house", "STEAM", AssetFamily::Steam},
        {"TK-301", "Condensate tank", "Tank", "Boiler house", "STEAM", AssetFamily::Steam},
        {"CMP-1", "Screw compressor 1 (75 kW)", "Compressor", "Compressor room", "SVC", AssetFamily::Air},
        {"CMP-2", "Screw compressor 2 (75 kW)", "Compressor", "Compressor room", "SVC", AssetFamily::Air},
        {"CMP-3", "Standby piston compressor", "Compressor", "Compressor room", "SVC", AssetFamily::Air},
        {"DRY-1", "Refrigerant air dryer", "Air dryer", "Compressor room", "SVC", AssetFamily::Air},
        {"CH-1", "Process chiller", "Chiller", "Services yard", "SVC", AssetFamily::Air},
        {"CT-1", "Cooling tower", "Cooling tower", "Services yard", "SVC", AssetFamily::Air},
        {"P-401", "Cooling water pump 1", "Pump", "Services yard", "SVC", AssetFamily::Pump},
        {"P-402", "Cooling water pump 2", "Pump", "Services yard", "SVC", AssetFamily::Pump},
        {"GEN-1", "Emergency diesel generator", "Generator", "Services yard", "SVC", AssetFamily::Electrical},
        {"SUB-1", "Main substation transformer", "Transformer", "Substation", "SVC", AssetFamily::Electrical},
        {"PKG-1", "Packaging line 1 - bottles", "Packaging line", "Packing hall", "FILL", AssetFamily::Packaging},
        {"PKG-2", "Packaging line 2 - pouches", "Packaging line", "Packing hall", "FILL", AssetFamily::Packaging},
        {"PKG-3", "Packaging line 3 - cartons", "Packaging line", "Packing hall", "FILL", AssetFamily::Packaging},
        {"FIL-501", "Rotary filler, 24 heads", "Filler", "Packing hall", "FILL", AssetFamily::Packaging},
        {"CAP-501", "Capper", "Capper", "Packing hall", "FILL", AssetFamily::Packaging},
        {"LBL-501", "Wrap-around labeller", "Labeller", "Packing hall", "FILL", AssetFamily::Packaging},
        {"CV-501", "Bottle conveyor, line 1", "Conveyor", "Packing hall", "FILL", AssetFamily::Conveyor},
        {"CV-502", "Case conveyor", "Conveyor", "Packing hall", "FILL", AssetFamily::Conveyor},
        {"CP-501", "Case packer", "Case packer", "Packing hall", "FILL", AssetFamily::Packaging},
        {"CW-501", "Checkweigher", "Checkweigher", "Packing hall", "FILL", AssetFamily::Packaging},
        {"PAL-501", "Palletiser", "Palletiser", "Packing hall", "FILL", AssetFamily::Packaging},
        {"SW-501", nullptr, "Stretch wrapper", "Packing hall", "FILL", AssetFamily::Packaging},
        {"FL-01", "Forklift 1 (electric, 2.5 t)", "Forklift", "Warehouse", "WHSE", AssetFamily::Vehicle},
        {"FL-02", "Forklift 2 (electric, 2.5 t)", "Forklift", "Warehouse", "WHSE", AssetFamily::Vehicle},
        {"FL-03", "Reach truck", "Forklift", "Warehouse", "WHSE", AssetFamily::Vehicle},
        {"DR-601", "Loading dock door 1", "Door", "Dispatch", "WHSE", AssetFamily::Building},
        {"DR-602", "Loading dock door 2", "Door", "Dispatch", "WHSE", AssetFamily::Building},
        {"LV-601", "Dock leveller 1", "Dock leveller", "Dispatch", "WHSE", AssetFamily::Building},
        {"CV-601", "Dispatch conveyor", "Conveyor", "Dispatch", "WHSE", AssetFamily::Conveyor},
        {"RK-601", nullptr, "Racking", "Warehouse", "WHSE", AssetFamily::Building},
        {"HVAC-1", "Warehouse air handling unit", "Air handling unit", "Warehouse roof", "WHSE", AssetFamily::Building},
};

const char *const problems[][8] = {
        // Pump
        {"Mechanical seal leaking, drip rate increasing", "Excessive vibration at the motor end bearing",
         "Pump running hot, discharge pressure low", "Cavitation noise at start-up",
         "Coupling guard loose and rattling", "Motor trips on overload after about ten minutes",
         "Check valve on the discharge not closing fully", "Packing gland needs adjusting, spraying water"},
        // Conveyor
        {"Belt tracking off to the drive side", "Belt splice lifting, needs repair before it tears",
         "Return roller seized and squealing", "Drive chain slack and jumping the sprocket",
         "Emergency pull-cord switch will not reset", "Product jamming at the transfer plate",
         "Gearbox leaking oil onto the floor", "Photo-eye misaligned, conveyor stops at random"},
        // Rotating
        {"Shaft wobble and noisy gearbox", "Drive belt worn and slipping", "Bearing temperature high on the drive side",
         "Impeller out of balance, vibration alarm", "Speed drive fault F0021 on start",
         "Lid interlock switch faulty, won't start", "Oil level low in the reducer",
         "Discharge valve sticking half open"},
        // Press
        {"Hydraulic leak at the main cylinder seal", "Stroke counter not registering", "Light curtain muting fault",
         "Ram parallelism out of tolerance", "Hydraulic oil temperature high", "Clutch/brake air pressure low alarm",
         "Die clamps not releasing", "Gripper losing vacuum on pick"},
        // Steam
        {"Burner fails to light on the first attempt", "Low water alarm tripping with the level normal",
         "Steam trap blowing through on the header", "Flue gas temperature higher than usual",
         "Softener not regenerating, hardness high", "Safety valve weeping", "Level gauge glass cracked",
         "Gasket leak on the manhole cover"},
        // Air
        {"High discharge temperature trip", "Air leak at the receiver drain valve", "Dew point alarm",
         "Oil carry-over in the compressed air", "Low refrigerant pressure fault", "Fan vibration, guard shaking",
         "Condensate drain blocked", "Load/unload cycling far too often"},
        // Packaging
        {"Labels applied crooked at line speed", "Nozzle 7 dripping between fills",
         "Cap torque inconsistent, loose caps found", "Rejecting good packs", "Missing cartons at the erector",
         "Hot-melt glue nozzle blocked", "Layer pusher misaligned", "Date coder printing faint"},
        // Vehicle
        {"Hydraulic leak on the mast", "Battery not lasting a full shift", "Horn and reversing beeper not working",
         "Brake pedal feels soft", "Drive tyre worn, needs replacing", "Hoist limit switch not stopping at the top",
         "Pendant button sticking", "Seat switch faulty, truck cuts out"},
        // Building
        {"Door not closing fully, gap at the bottom seal", "Leveller lip not extending",
         "Upright damaged by a forklift", "Filter differential pressure high", "Door sensor opening it on its own",
         "Roof leak above the bay", "Lighting out in aisle 4", "Heating not keeping the area above 12 \u00b0C"},
        // Electrical
        {"Failed the weekly test start", "Battery charger fault light on", "Oil temperature alarm",
         "Hot spot found on the incomer during the thermal scan", "Fuel level sensor reading wrong",
         "Annual insulation test due", "Breaker tripped twice this week", "Panel door interlock broken"},
};

const char *const details[] = {
        "Reported by the night shift.",
        "Operator says it started after the last changeover.",
        "Noticed during the morning walk-round.",
        "Production can work around it for now.",
        "Line stopped twice today because of this.",
        "Safety issue - please look at it today.",
        "Please talk to the shift supervisor before isolating.",
        "Spare may be in the store, check the bin location.",
        "Happened again after last week's repair.",
        "Area has been barriered off.",
        "Could be related to the work on the unit next to it.",
        "Quality has put some product on hold because of it.",
        "Needs a permit to work and lockout.",
        "It's getting worse each shift.",
        "A contractor visit may be needed.",
        "Can wait until the next planned stop.",
        "The noise can be heard from the corridor.",
        "Guard has been refitted temporarily.",
        "Drip tray placed underneath.",
        "Photos are in the linked files.",
};

const char *const parts[] = {
        "bearing 6205-2RS",     "mechanical seal kit",     "V-belt SPA 1250",  "O-ring set",
        "proximity sensor M18", "contactor, 24 V DC coil", "gearbox oil, 5 l", "filter element",
        "coupling insert",      "solenoid valve 1/2\"",    "gasket set",       "fuse 10 A",
};

const char *const pmTasks[] = {
        "Check oil level and top up",  "Grease bearings",          "Inspect belts and chains",
        "Check guards and interlocks", "Clean or replace filters", "Tighten electrical terminals",
        "Record running hours",        "Test the emergency stop",  "Check for leaks",
        "Inspect hoses and fittings",  "Check fixings and mounts", "Take vibration readings",
};

const char *const pmFrequencies[] = {"Weekly", "Monthly", "Monthly", "Quarterly", "Half-yearly", "Annual"};

QString text(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

int departmentIndex(const Plant &plant, const QString &id)
{
    for (int i = 0; i < plant.departments.size(); ++i) {
        if (plant.departments.at(i).id == id)
            return i;
    }
    return 0;
}

Plant makePlant()
{
    Plant plant;
    plant.divisions = {
            {QStringLiteral("PROD"), QStringLiteral("Production")},
            {QStringLiteral("UTIL"), QStringLiteral("Utilities")},
            {QStringLiteral("PACK"), QStringLiteral("Packaging and Warehouse")},
    };
    plant.departments = {
            {QStringLiteral("MIX"), QStringLiteral("PROD"), QStringLiteral("Mixing")},
            {QStringLiteral("PRESS"), QStringLiteral("PROD"), QStringLiteral("Press Shop")},
            {QStringLiteral("STEAM"), QStringLiteral("UTIL"), QStringLiteral("Steam and Water")},
            {QStringLiteral("SVC"), QStringLiteral("UTIL"), QStringLiteral("Plant Services")},
            {QStringLiteral("FILL"), QStringLiteral("PACK"), QStringLiteral("Filling and Packing")},
            {QStringLiteral("WHSE"), QStringLiteral("PACK"), QStringLiteral("Warehouse")},
    };
    int i = 0;
    for (const AssetRow &row : assetRows) {
        const QString department = QString::fromLatin1(row.department);
        plant.assets.append({text(row.code), text(row.descr), text(row.type), text(row.location),
                             plant.departments.at(departmentIndex(plant, department)).divisionId, department,
                             row.family, 1 + (i * 7) % 5});
        ++i;
    }
    struct UserRow
    {
        const char *id;
        const char *name;
        bool canRequestWork;
    };
    const UserRow userRows[] = {
            {"JDOE", "Jordan Doe", true},
            {"AMILLER", "Anna Miller", true},
            {"BNGUYEN", "Binh Nguyen", true},
            {"CROSSI", "Carla Rossi", true},
            {"DOKAFOR", "David Okafor", true},
            {"EJOHANSSON", "Erik Johansson", true},
            {"FSILVA", "Fernanda Silva", true},
            {"GPATEL", "Gita Patel", true},
            {"HMUELLER", "Hans M\u00fcller", true},
            {"IKOWALSKI", "Irena Kowalski", true},
            {"JOBRIEN", "Jim O'Brien", true},
            {"KTANAKA", "Kenji Tanaka", true},
            {"LMARTIN", "Louise Martin", true},
            {"MGARCIA", "Miguel Garc\u00eda", true},
            {"NSMITH", "Nora Smith", true},
            {"OHASSAN", "Omar Hassan", true},
            {"PLEE", "Peter Lee", true},
            {"QCLAB", "Quality Lab", true},
            {"SHIFTA", nullptr, true},
            {"SHIFTB", nullptr, true},
            {"TBAKER", "Tom Baker", false},
            {"RSCHMIDT", "Rita Schmidt", false},
            {"MJONES", "Mark Jones", false},
            {"AKUMAR", "Arjun Kumar", false},
            {"SLEBLANC", "Sophie Leblanc", false},
            {"WZHANG", "Wei Zhang", false},
            {"VPETROV", "Viktor Petrov", false},
            {"CONTRACTOR", nullptr, false},
    };
    for (const UserRow &row : userRows)
        plant.users.append({text(row.id), text(row.name), row.canRequestWork});
    return plant;
}

} // namespace

const Plant &Plant::instance()
{
    static const Plant plant = makePlant();
    return plant;
}

int workOrderCount(const Options &options)
{
    return options.workOrders > 0 ? options.workOrders : DemoWorkOrderCount;
}

QString timestampText(const QDate &day, qint64 seconds)
{
    qint64 days = seconds / Day;
    seconds %= Day;
    if (seconds < 0) {
        seconds += Day;
        --days;
    }
    const QDate date = day.addDays(days);
    const int fields[6]
            = {date.year(), date.month(), date.day(), int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60)};
    const int lastDigit[6] = {3, 6, 9, 12, 15, 18};
    QString text(QStringLiteral("0000-00-00 00:00:00"));
    QChar *out = text.data();
    for (int i = 0; i < 6; ++i) {
        for (int v = fields[i], j = lastDigit[i]; v > 0; v /= 10, --j)
            out[j] = QLatin1Char(char('0' + v % 10));
    }
    return text;
}

WorkOrderStream::WorkOrderStream(const Options &options)
    : m_plant(Plant::instance())
    , m_random(quint64(options.seed) * 0x2545f4914f6cdd1dULL + 1)
    , m_today(options.today.isNull() ? DefaultToday : options.today)
    , m_count(workOrderCount(options))
{
    const int upcoming = qMin(m_count, qMax(1, m_count / 20));
    const int open = qMin(m_count - upcoming, qMax(1, m_count * 3 / 25));
    m_openFrom = m_count - upcoming - open;
    m_upcomingFrom = m_count - upcoming;
    for (const Asset &asset : m_plant.assets)
        m_assetWeightTotal += asset.weight;
    for (const User &user : m_plant.users)
        m_requesters += user.canRequestWork ? 1 : 0;
}

qint64 WorkOrderStream::placeInBand(int index, int count, qint64 start, qint64 end)
{
    // One equal slice of the band per work order, a random second within it: the
    // dates rise with the numbers and cover the band evenly, never piling up at its end.
    const qint64 span = end - start;
    return start + (qint64(index) * span + qint64(m_random.below(quint32(span)))) / count;
}

WorkOrder WorkOrderStream::next()
{
    enum class Band { History, Open, Upcoming };
    WorkOrder wo;
    wo.number = FirstWorkOrderNumber + m_produced;
    const int index = m_produced++;
    const Band band = index >= m_upcomingFrom ? Band::Upcoming : index >= m_openFrom ? Band::Open : Band::History;

    qint64 when = 0;
    switch (band) {
    case Band::History:
        when = placeInBand(index, m_openFrom, HistoryStart, OpenStart);
        wo.isPM = m_random.percent(12);
        break;
    case Band::Open:
        when = placeInBand(index - m_openFrom, m_upcomingFrom - m_openFrom, OpenStart, 0);
        break;
    case Band::Upcoming:
        when = placeInBand(index - m_upcomingFrom, m_count - m_upcomingFrom, UpcomingStart, UpcomingEnd);
        wo.isPM = true;
        break;
    }

    if (wo.isPM) {
        wo.asset = int(m_random.below(quint32(m_plant.assets.size())));
    } else {
        int r = int(m_random.below(quint32(m_assetWeightTotal)));
        while (r >= m_plant.assets.at(wo.asset).weight) {
            r -= m_plant.assets.at(wo.asset).weight;
            ++wo.asset;
        }
    }

    if (wo.isPM) {
        // Scheduled work is raised at 06:00 on its day, which stays in its band
        // because every band starts at midnight.
        qint64 day = when / Day;
        if (when < 0 && when % Day != 0)
            --day;
        when = day * Day + 6 * 3600;
    }
    wo.dateLoaded = timestampText(m_today, when);

    const qint64 ageDays = -when / Day;
    switch (band) {
    case Band::History:
        wo.status = 3 + (ageDays < 90 ? m_random.weighted({45, 55}) : m_random.weighted({8, 92}));
        break;
    case Band::Open:
        // Requested, Approved, In Progress: the older, the further along.
        wo.status = ageDays < 7 ? m_random.weighted({55, 25, 20})
                : ageDays < 21  ? m_random.weighted({25, 35, 40})
                                : m_random.weighted({10, 30, 60});
        break;
    case Band::Upcoming:
        wo.status = m_random.weighted({70, 30});
        break;
    }

    if (wo.isPM) {
        wo.priority = 3 + m_random.weighted({60, 35, 5});
    } else {
        const int p = m_random.weighted({3, 8, 20, 40, 22, 7});
        wo.priority = p; // 0 stays "no priority"
    }

    if (!wo.isPM && !m_random.percent(3)) {
        // The first few people report most of the work.
        wo.requestedBy = m_random.percent(50) ? int(m_random.below(6)) : int(m_random.below(quint32(m_requesters)));
    }
    const int assignChance = wo.status == 0 ? 20 : 93;
    if (m_random.percent(assignChance)) {
        const int technicians = int(m_plant.users.size()) - m_requesters;
        wo.assignedTo = m_requesters + int(m_random.below(quint32(technicians)));
    }

    const Asset &asset = m_plant.assets.at(wo.asset);
    if (wo.isPM)
        wo.workRequest = pmRequest(asset);
    else if (!m_random.percent(4))
        wo.workRequest = workRequest(asset);
    return wo;
}

QString WorkOrderStream::workRequest(const Asset &asset)
{
    const auto &familyProblems = problems[int(asset.family)];
    QString request = QString::fromUtf8(m_random.pick(familyProblems)) + QLatin1Char('.');
    if (m_random.percent(15)) {
        request += QLatin1Char('\n') + QString::fromUtf8(m_random.pick(details));
        switch (m_random.below(3)) {
        case 0:
            request += QStringLiteral("\nParts needed:\n- ") + QString::fromUtf8(m_random.pick(parts))
                    + QStringLiteral("\n- ") + QString::fromUtf8(m_random.pick(parts));
            break;
        case 1:
            request += QStringLiteral("\nReadings: %1.%2 bar, %3 \u00b0C")
                               .arg(m_random.between(1, 9))
                               .arg(m_random.between(0, 9))
                               .arg(m_random.between(35, 95));
            break;
        default:
            request += QStringLiteral("\nTried so far:\n1. Reset at the panel\n2. Checked the fuses\n"
                                      "3. Restarted - the fault came back");
            break;
        }
    } else {
        const int sentences = m_random.weighted({15, 50, 35});
        for (int i = 0; i < sentences; ++i)
            request += QLatin1Char(' ') + QString::fromUtf8(m_random.pick(details));
    }
    return request;
}

QString WorkOrderStream::pmRequest(const Asset &asset)
{
    QString request = QString::fromUtf8(m_random.pick(pmFrequencies)) + QStringLiteral(" PM - ")
            + (asset.descr.isNull() ? asset.type : asset.descr);
    const int tasks = m_random.between(3, 5);
    const int first = int(m_random.below(quint32(std::size(pmTasks))));
    const bool list = m_random.percent(40);
    for (int i = 0; i < tasks; ++i) {
        const QString task = QString::fromUtf8(pmTasks[(first + i * 5) % int(std::size(pmTasks))]);
        if (list)
            request += QStringLiteral("\n- ") + task;
        else
            request += (i == 0 ? QStringLiteral(": ") : QStringLiteral("; ")) + task.toLower();
    }
    if (!list)
        request += QLatin1Char('.');
    return request;
}

QList<LinkedFile> linkedFiles(const Options &options)
{
    const Plant &plant = Plant::instance();
    Random random(quint64(options.seed) * 0x9e3779b97f4a7c15ULL + 2);

    int weightTotal = 0;
    for (const Asset &asset : plant.assets)
        weightTotal += asset.weight;

    struct Template
    {
        FileKind kind;
        const char *docType;
        const char *descr;
        const char *name; // %1: asset code, %2: a number
        int weight;
    };
    const Template templates[] = {
            {FileKind::Jpeg, "Photo", "After repair", "%1 after repair %2.jpg", 6},
            {FileKind::Jpeg, "Photo", "General view", "%1_photo_%2.jpg", 10},
            {FileKind::Jpeg, "Photo", "Nameplate", "%1 nameplate.jpg", 6},
            {FileKind::Png, "Photo", "Damage found on inspection", "%1 damage %2.png", 4},
            {FileKind::Png, "Drawing", "General arrangement", "%1 GA drawing.png", 5},
            {FileKind::Pdf, "Drawing", "Electrical schematic", "%1-DWG-%2.pdf", 6},
            {FileKind::Pdf, "Manual", "Operating manual", "%1 Operating Manual.pdf", 8},
            {FileKind::Pdf, "Manual", "Service manual", "%1_service_manual.pdf", 5},
            {FileKind::Text, "Procedure", "Lockout/tagout procedure", "%1 lockout procedure.txt", 6},
            {FileKind::Text, "Procedure", "Operator's daily checklist", "%1_daily_checks.txt", 4},
            {FileKind::Pdf, "Procedure", "Safe work procedure", "SOP-%2 %1.pdf", 4},
            {FileKind::Pdf, "Data Sheet", "Spare parts list", "%1 spare parts.pdf", 3},
            {FileKind::Html, "Web Page", "Supplier product page", "%1 supplier page.html", 4},
            {FileKind::Html, "Web Page", "Maintenance history summary", "%1.html", 3},
    };
    int templateTotal = 0;
    for (const Template &t : templates)
        templateTotal += t.weight;

    QList<LinkedFile> files;
    QSet<QString> names;
    for (int i = 0; i < options.linkedFiles; ++i) {
        LinkedFile file;
        file.id = i + 1;
        int r = int(random.below(quint32(weightTotal)));
        while (r >= plant.assets.at(file.asset).weight) {
            r -= plant.assets.at(file.asset).weight;
            ++file.asset;
        }
        // Another kind of document when the asset already has this one, a numbered copy
        // when that keeps happening.
        const QString code = plant.assets.at(file.asset).code;
        const Template *chosen = nullptr;
        QString base;
        for (int attempt = 0; attempt < 4 && (!chosen || names.contains(base)); ++attempt) {
            int t = 0;
            r = int(random.below(quint32(templateTotal)));
            while (r >= templates[t].weight) {
                r -= templates[t].weight;
                ++t;
            }
            chosen = &templates[t];
            const int number = random.between(1, 120);
            base = QString::fromLatin1(chosen->name)
                           .replace(QLatin1String("%1"), code)
                           .replace(QLatin1String("%2"), QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0')));
        }
        file.kind = chosen->kind;
        file.docType = QString::fromLatin1(chosen->docType);
        if (!random.percent(4))
            file.docDescr = QString::fromLatin1(chosen->descr);
        file.variant = int(random.below(4));
        const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
        QString name = base;
        for (int copy = 2; names.contains(name); ++copy)
            name = QString(base).insert(dot, QStringLiteral("_%1").arg(copy));
        names.insert(name);
        file.fileName = name;
        files.append(file);
    }
    return files;
}

} // namespace Orvantel::DemoData
