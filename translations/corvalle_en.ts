<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Corvalle is already running but does not answer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This build has no PipeWire support; try --simulate.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No PipeWire server answered yet; Corvalle keeps trying.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::AppDelegate</name>
    <message>
        <source>Corvalle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Corvalle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Corvalle
%n app(s) playing</source>
        <comment>tray icon tooltip</comment>
        <translation>
            <numerusform>Corvalle
%n app playing</numerusform>
            <numerusform>Corvalle
%n apps playing</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>corvalle::CommandLine</name>
    <message>
        <source>%1 names more than one installed application; give its key:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::LaunchOptions</name>
    <message>
        <source>Show this help.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show the version.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start as a login item: open no window.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run on a simulated audio system with demo applications.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Number of demo applications (with --simulate).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save a PNG of the window once it is shown and print the start-up times.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log what Corvalle does on standard error.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unexpected argument: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>--demo-apps takes a number from 0 to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Per-application volume mixer.

With a command, controls the running Corvalle instead: list, get, set, up,
down, mute, unmute, toggle-mute, reset, output, route, limiter, duck,
duck-level, shortcuts, show.
&quot;corvalle help&quot; explains each command; &quot;man corvalle&quot; explains all of it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::MainWindow</name>
    <message>
        <source>Corvalle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Corvalle also lives in your system tray — click its slider icon to open the mixer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your desktop shows no tray icons, so Corvalle lives in this window. Closing it quits Corvalle and returns every app to its own volume.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::MixerModel</name>
    <message>
        <source>PID %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System Sounds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Device %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings could not be saved: %1. Changes apply until Corvalle quits.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::Shortcuts</name>
    <message>
        <source>Raise the volume of the focused application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lower the volume of the focused application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mute or unmute the focused application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Raise the volume of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lower the volume of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mute or unmute %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <comment>an application and its level</comment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No focused application is known here</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The focused application plays no sound</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::WindowTitleRow</name>
    <message>
        <source>Minimise</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::AppRow</name>
    <message>
        <source>%1 is not playing right now. Your setting is kept for when it does.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Playing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset to 100%</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Icon of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not playing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Volume of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mute %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset %1 to 100%</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Muted. Unmute to change the volume.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unmute</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mute</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Muted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1%</source>
        <comment>a level in percent</comment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Level of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Its call lowers the others</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lowered to %1 while a call plays</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lowered while a call plays</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::LevelMeter</name>
    <message>
        <source>Silent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 dB, limited</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::LoweringMenu</name>
    <message>
        <source>Lower Others While It Plays</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>While it plays, as in a call, every other application is lowered; short sounds lower nothing.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Others Go To</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::MixerView</name>
    <message>
        <source>Corvalle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No apps are playing audio.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hard limit, as loud as possible</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A boost past full scale is clipped instead of lowered smoothly: louder, but it distorts.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::OutputMenu</name>
    <message>
        <source>Play %1 On</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Default Output</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remember a level for each output</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On each output device it plays at the level last set while it was heard there.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::OutputPicker</name>
    <message>
        <source>Choose the output device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output Device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output device: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::ShortcutMenu</name>
    <message>
        <source>Shortcuts for This App</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keys to raise, lower and mute it; the desktop&apos;s shortcut settings bind them.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>corvalle::ui::VolumeSlider</name>
    <message>
        <source>%1 %</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
