#pragma once

namespace corvalle {

// The text of org.corvalle.Corvalle.Mixer.xml, built into the program.
const char* mixerIntrospectionDocument();

} // namespace corvalle
