#pragma once

namespace corvalle::ui {

// Makes assistive technology see the panel's own widgets as what they are: the
// volume slider as a slider whose value reads "125 %", an elided name as static
// text with the whole name. Safe to call more than once.
void installAccessibleInterfaces();

} // namespace corvalle::ui
