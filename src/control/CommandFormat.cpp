#include "CommandFormat.h"

#include "VolumeText.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace corvalle {

namespace {

const QString kYes = QStringLiteral("yes");
const QString kNo = QStringLiteral("no");

QString yesNo(bool value) {
    return value ? kYes : kNo;
}

// Rows of cells, left-aligned except the columns in `rightAligned`, two spaces apart.
QString table(const std::vector<QStringList>& rows, const std::vector<bool>& rightAligned) {
    std::vector<qsizetype> widths(rightAligned.size(), 0);
    for (const auto& row : rows) {
        for (qsizetype column = 0; column < row.size(); ++column) {
            auto& width = widths[static_cast<std::size_t>(column)];
            width = std::max(width, row[column].size());
        }
    }
    QString text;
    for (const auto& row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column) {
            const auto index = static_cast<std::size_t>(column);
            const auto width = static_cast<int>(widths[index]);
            if (column > 0) {
                line += QStringLiteral("  ");
            }
            line += rightAligned[index] ? row[column].rightJustified(width)
                                        : row[column].leftJustified(width);
        }
        while (line.endsWith(QLatin1Char(' '))) {
            line.chop(1);
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString callState(const ApplicationState& application) {
    if (application.calling) {
        return QStringLiteral("calling");
    }
    return application.lowered ? QStringLiteral("lowered") : kNo;
}

} // namespace

double roundedPercent(double volume) {
    return std::round(volume * 1000.0) / 10.0;
}

QString printable(const QString& text) {
    QString result = text;
    for (auto& character : result) {
        const auto category = character.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format) {
            character = QChar::ReplacementCharacter;
        }
    }
    return result;
}

QString applicationLabel(const ApplicationState& application) {
    auto key = printable(application.key);
    if (application.name == application.key) {
        return key;
    }
    return QStringLiteral("%1 (%2)").arg(printable(application.name), key);
}

QString applicationLine(const ApplicationState& application) {
    auto line = QStringLiteral("%1: %2").arg(applicationLabel(application),
                                             formatPercent(application.volume));
    if (application.muted) {
        line += QStringLiteral(", muted");
    }
    if (application.volumeOutOfRange) {
        line += QStringLiteral(" (the remembered level was out of range)");
    }
    if (application.lowersOthers) {
        line += QStringLiteral(", lowers the others");
    }
    if (application.levelPerOutput) {
        line += QStringLiteral(", a level for each output");
    }
    if (application.shortcuts) {
        line += QStringLiteral(", has shortcuts");
    }
    if (application.calling) {
        line += QStringLiteral(", in a call");
    } else if (application.lowered) {
        line += QStringLiteral(", lowered for a call");
    }
    if (!application.output.isEmpty()) {
        line += QStringLiteral(", on %1").arg(printable(application.outputName));
    }
    return line;
}

QString applicationTable(const std::vector<ApplicationState>& applications) {
    // Where each application plays is only worth a column once one was sent
    // somewhere, and the lowering once one is marked or a call lowers the others.
    const bool anyOutput = std::ranges::any_of(
        applications, [](const ApplicationState& a) { return !a.output.isEmpty(); });
    const bool anyLowering = std::ranges::any_of(applications, [](const ApplicationState& a) {
        return a.lowersOthers || a.calling || a.lowered;
    });
    QStringList header{QStringLiteral("KEY"), QStringLiteral("NAME"), QStringLiteral("LEVEL"),
                       QStringLiteral("MUTED"), QStringLiteral("PLAYING")};
    if (anyLowering) {
        header << QStringLiteral("LOWERS") << QStringLiteral("CALL");
    }
    if (anyOutput) {
        header << QStringLiteral("OUTPUT");
    }
    std::vector<QStringList> rows{header};
    bool outOfRange = false;
    for (const auto& application : applications) {
        outOfRange = outOfRange || application.volumeOutOfRange;
        QStringList row{printable(application.key), printable(application.name),
                        formatPercent(application.volume) +
                            (application.volumeOutOfRange ? QStringLiteral("*") : QString()),
                        yesNo(application.muted),
                        application.hasProcesses ? yesNo(application.playing)
                                                 : QStringLiteral("not running")};
        if (anyLowering) {
            row << yesNo(application.lowersOthers) << callState(application);
        }
        if (anyOutput) {
            row << (application.output.isEmpty() ? QStringLiteral("default")
                                                 : printable(application.outputName));
        }
        rows.push_back(std::move(row));
    }
    auto text = table(rows, {false, false, true, false, false, false, false, false});
    if (outOfRange) {
        text += QStringLiteral("* the remembered level was out of range; the level shown is "
                               "the one that plays\n");
    }
    return text;
}

QString outputTable(const std::vector<BusOutput>& outputs, uint currentID) {
    std::vector<QStringList> rows{{QString(), QStringLiteral("ID"), QStringLiteral("NAME")}};
    for (const auto& output : outputs) {
        rows.push_back({output.id == currentID ? QStringLiteral("*") : QString(),
                        QString::number(output.id), printable(output.name)});
    }
    return table(rows, {false, true, false});
}

QJsonObject applicationJson(const ApplicationState& application) {
    return {
        {QStringLiteral("key"), application.key},
        {QStringLiteral("name"), application.name},
        {QStringLiteral("volume"), application.volume},
        {QStringLiteral("percent"), roundedPercent(application.volume)},
        {QStringLiteral("muted"), application.muted},
        {QStringLiteral("playing"), application.playing},
        {QStringLiteral("running"), application.hasProcesses},
        {QStringLiteral("hasSetting"), application.hasSetting},
        {QStringLiteral("listed"), application.listed},
        {QStringLiteral("volumeOutOfRange"), application.volumeOutOfRange},
        {QStringLiteral("output"), application.output},
        {QStringLiteral("outputName"), application.outputName},
        {QStringLiteral("lowersOthers"), application.lowersOthers},
        {QStringLiteral("calling"), application.calling},
        {QStringLiteral("lowered"), application.lowered},
        {QStringLiteral("levelPerOutput"), application.levelPerOutput},
        {QStringLiteral("shortcuts"), application.shortcuts},
    };
}

QJsonObject outputJson(const BusOutput& output) {
    return {{QStringLiteral("id"), static_cast<qint64>(output.id)},
            {QStringLiteral("name"), output.name}};
}

} // namespace corvalle
