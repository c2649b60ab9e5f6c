#pragma once

#include "MixerBusTypes.h"

#include <QJsonObject>
#include <QString>
#include <vector>

namespace corvalle {

// Text from the audio system or the desktop made safe for a terminal: control and
// format characters (escape sequences, direction overrides) become U+FFFD.
QString printable(const QString& text);

// "Firefox (org.mozilla.firefox)", or only the key when the name is the key.
QString applicationLabel(const ApplicationState& application);
// "Firefox (org.mozilla.firefox): 150%, muted"
QString applicationLine(const ApplicationState& application);
// The list as a table with a header: KEY NAME LEVEL MUTED PLAYING; LOWERS and
// CALL (calling, lowered or no) once an application is marked to lower the others
// or a call lowers them; OUTPUT once an application was sent to an output of its
// own. A level marked "*" was remembered out of range; a note under the table
// says so.
QString applicationTable(const std::vector<ApplicationState>& applications);
// The outputs as a table with a header; "*" marks the current one.
QString outputTable(const std::vector<BusOutput>& outputs, uint currentID);

// A volume or level as a percentage to a tenth: 0.3333 is 33.3.
double roundedPercent(double volume);

QJsonObject applicationJson(const ApplicationState& application);
QJsonObject outputJson(const BusOutput& output);

} // namespace corvalle
