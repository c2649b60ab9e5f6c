<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Corvalle is already running but does not answer.</source>
        <translation>Corvalle läuft bereits, antwortet aber nicht.</translation>
    </message>
    <message>
        <source>This build has no PipeWire support; try --simulate.</source>
        <translation>Dieser Build unterstützt PipeWire nicht; versuchen Sie --simulate.</translation>
    </message>
    <message>
        <source>No PipeWire server answered yet; Corvalle keeps trying.</source>
        <translation>Noch hat kein PipeWire-Server geantwortet; Corvalle versucht es weiter.</translation>
    </message>
</context>
<context>
    <name>corvalle::AppDelegate</name>
    <message>
        <source>Corvalle</source>
        <translation>Corvalle</translation>
    </message>
    <message>
        <source>Open Corvalle</source>
        <translation>Corvalle öffnen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message numerus="yes">
        <source>Corvalle
%n app(s) playing</source>
        <comment>tray icon tooltip</comment>
        <translation>
            <numerusform>Corvalle
%n App spielt</numerusform>
            <numerusform>Corvalle
%n Apps spielen</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>corvalle::CommandLine</name>
    <message>
        <source>%1 names more than one installed application; give its key:</source>
        <translation>%1 bezeichnet mehr als eine installierte Anwendung; geben Sie ihren Schlüssel an:</translation>
    </message>
</context>
<context>
    <name>corvalle::LaunchOptions</name>
    <message>
        <source>Show this help.</source>
        <translation>Diese Hilfe anzeigen.</translation>
    </message>
    <message>
        <source>Show the version.</source>
        <translation>Die Version anzeigen.</translation>
    </message>
    <message>
        <source>Start as a login item: open no window.</source>
        <translation>Als Anmeldeobjekt starten: kein Fenster öffnen.</translation>
    </message>
    <message>
        <source>Run on a simulated audio system with demo applications.</source>
        <translation>Auf einem simulierten Audiosystem mit Demo-Anwendungen laufen.</translation>
    </message>
    <message>
        <source>Number of demo applications (with --simulate).</source>
        <translation>Anzahl der Demo-Anwendungen (mit --simulate).</translation>
    </message>
    <message>
        <source>Save a PNG of the window once it is shown and print the start-up times.</source>
        <translation>Ein PNG des Fensters speichern, sobald es erscheint, und die Startzeiten ausgeben.</translation>
    </message>
    <message>
        <source>Log what Corvalle does on standard error.</source>
        <translation>Protokollieren, was Corvalle tut, auf der Standardfehlerausgabe.</translation>
    </message>
    <message>
        <source>Unexpected argument: %1</source>
        <translation>Unerwartetes Argument: %1</translation>
    </message>
    <message>
        <source>--demo-apps takes a number from 0 to %1</source>
        <translation>--demo-apps erwartet eine Zahl von 0 bis %1</translation>
    </message>
    <message>
        <source>Per-application volume mixer.

With a command, controls the running Corvalle instead: list, get, set, up,
down, mute, unmute, toggle-mute, reset, output, route, limiter, duck,
duck-level, shortcuts, show.
&quot;corvalle help&quot; explains each command; &quot;man corvalle&quot; explains all of it.</source>
        <translation>Lautstärkemischer für jede Anwendung.

Mit einem Befehl steuert es stattdessen das laufende Corvalle: list, get, set,
up, down, mute, unmute, toggle-mute, reset, output, route, limiter, duck,
duck-level, shortcuts, show.
„corvalle help“ erklärt jeden Befehl, „man corvalle“ erklärt alles.</translation>
    </message>
</context>
<context>
    <name>corvalle::MainWindow</name>
    <message>
        <source>Corvalle</source>
        <translation>Corvalle</translation>
    </message>
    <message>
        <source>Corvalle also lives in your system tray — click its slider icon to open the mixer.</source>
        <translation>Corvalle wohnt auch in Ihrem Systembereich der Kontrollleiste – klicken Sie auf sein Regler-Symbol, um den Mischer zu öffnen.</translation>
    </message>
    <message>
        <source>Your desktop shows no tray icons, so Corvalle lives in this window. Closing it quits Corvalle and returns every app to its own volume.</source>
        <translation>Ihr Desktop zeigt keine Symbole im Systembereich, daher wohnt Corvalle in diesem Fenster. Wenn Sie es schließen, wird Corvalle beendet und jede App erhält wieder ihre eigene Lautstärke.</translation>
    </message>
</context>
<context>
    <name>corvalle::MixerModel</name>
    <message>
        <source>PID %1</source>
        <translation>PID %1</translation>
    </message>
    <message>
        <source>System Sounds</source>
        <translation>Systemklänge</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>Device %1</source>
        <translation>Gerät %1</translation>
    </message>
    <message>
        <source>Settings could not be saved: %1. Changes apply until Corvalle quits.</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden: %1. Änderungen gelten, bis Corvalle beendet wird.</translation>
    </message>
</context>
<context>
    <name>corvalle::Shortcuts</name>
    <message>
        <source>Raise the volume of the focused application</source>
        <translation>Lautstärke der aktiven Anwendung erhöhen</translation>
    </message>
    <message>
        <source>Lower the volume of the focused application</source>
        <translation>Lautstärke der aktiven Anwendung verringern</translation>
    </message>
    <message>
        <source>Mute or unmute the focused application</source>
        <translation>Stummschaltung der aktiven Anwendung umschalten</translation>
    </message>
    <message>
        <source>Raise the volume of %1</source>
        <translation>Lautstärke von %1 erhöhen</translation>
    </message>
    <message>
        <source>Lower the volume of %1</source>
        <translation>Lautstärke von %1 verringern</translation>
    </message>
    <message>
        <source>Mute or unmute %1</source>
        <translation>Stummschaltung von %1 umschalten</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <comment>an application and its level</comment>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>No focused application is known here</source>
        <translation>Die aktive Anwendung ist hier nicht bekannt</translation>
    </message>
    <message>
        <source>The focused application plays no sound</source>
        <translation>Die aktive Anwendung gibt keinen Ton aus</translation>
    </message>
</context>
<context>
    <name>corvalle::WindowTitleRow</name>
    <message>
        <source>Minimise</source>
        <translation>Minimieren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::AppRow</name>
    <message>
        <source>Its call lowers the others</source>
        <translation>Sein Anruf macht die anderen leiser</translation>
    </message>
    <message>
        <source>Lowered to %1 while a call plays</source>
        <translation>Während eines Anrufs auf %1 gesenkt</translation>
    </message>
    <message>
        <source>%1 is not playing right now. Your setting is kept for when it does.</source>
        <translation>%1 spielt gerade nicht. Ihre Einstellung bleibt erhalten, bis es wieder spielt.</translation>
    </message>
    <message>
        <source>Playing</source>
        <translation>Spielt</translation>
    </message>
    <message>
        <source>Reset to 100%</source>
        <translation>Auf 100 % zurücksetzen</translation>
    </message>
    <message>
        <source>Icon of %1</source>
        <translation>Symbol von %1</translation>
    </message>
    <message>
        <source>Not playing</source>
        <translation>Spielt nicht</translation>
    </message>
    <message>
        <source>Volume of %1</source>
        <translation>Lautstärke von %1</translation>
    </message>
    <message>
        <source>Mute %1</source>
        <translation>%1 stummschalten</translation>
    </message>
    <message>
        <source>Reset %1 to 100%</source>
        <translation>%1 auf 100 % zurücksetzen</translation>
    </message>
    <message>
        <source>Muted. Unmute to change the volume.</source>
        <translation>Stummgeschaltet. Heben Sie die Stummschaltung auf, um die Lautstärke zu ändern.</translation>
    </message>
    <message>
        <source>Unmute</source>
        <translation>Stummschaltung aufheben</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Stummschalten</translation>
    </message>
    <message>
        <source>Muted</source>
        <translation>Stummgeschaltet</translation>
    </message>
    <message>
        <source>%1%</source>
        <comment>a level in percent</comment>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>Level of %1</source>
        <translation>Pegel von %1</translation>
    </message>
    <message>
        <source>Lowered while a call plays</source>
        <translation>Während eines Anrufs gesenkt</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::LevelMeter</name>
    <message>
        <source>Silent</source>
        <translation>Still</translation>
    </message>
    <message>
        <source>%1 dB, limited</source>
        <translation>%1 dB, begrenzt</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::LoweringMenu</name>
    <message>
        <source>Lower Others While It Plays</source>
        <translation>Andere leiser, solange es spielt</translation>
    </message>
    <message>
        <source>Others Go To</source>
        <translation>Andere auf</translation>
    </message>
    <message>
        <source>While it plays, as in a call, every other application is lowered; short sounds lower nothing.</source>
        <translation>Solange es spielt, wie bei einem Anruf, werden alle anderen Anwendungen leiser; kurze Töne ändern nichts.</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::MixerView</name>
    <message>
        <source>Corvalle</source>
        <translation>Corvalle</translation>
    </message>
    <message>
        <source>No apps are playing audio.</source>
        <translation>Keine App spielt gerade Ton.</translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Hard limit, as loud as possible</source>
        <translation>Hart begrenzen, so laut wie möglich</translation>
    </message>
    <message>
        <source>A boost past full scale is clipped instead of lowered smoothly: louder, but it distorts.</source>
        <translation>Eine Verstärkung über die Vollaussteuerung wird abgeschnitten statt sanft abgesenkt: lauter, aber verzerrt.</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::OutputMenu</name>
    <message>
        <source>Play %1 On</source>
        <translation>%1 abspielen über</translation>
    </message>
    <message>
        <source>Default Output</source>
        <translation>Standardausgabe</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1 (nicht verbunden)</translation>
    </message>
    <message>
        <source>Remember a level for each output</source>
        <translation>Für jede Ausgabe eine eigene Lautstärke merken</translation>
    </message>
    <message>
        <source>On each output device it plays at the level last set while it was heard there.</source>
        <translation>Auf jedem Ausgabegerät spielt es mit der Lautstärke, die zuletzt dort eingestellt war.</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::OutputPicker</name>
    <message>
        <source>Choose the output device</source>
        <translation>Das Ausgabegerät wählen</translation>
    </message>
    <message>
        <source>Output Device</source>
        <translation>Ausgabegerät</translation>
    </message>
    <message>
        <source>Output device: %1</source>
        <translation>Ausgabegerät: %1</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::ShortcutMenu</name>
    <message>
        <source>Shortcuts for This App</source>
        <translation>Tastenkürzel für diese App</translation>
    </message>
    <message>
        <source>Keys to raise, lower and mute it; the desktop&apos;s shortcut settings bind them.</source>
        <translation>Tasten zum Lauter- und Leiserstellen und Stummschalten; belegt werden sie in den Kurzbefehl-Einstellungen der Arbeitsumgebung.</translation>
    </message>
</context>
<context>
    <name>corvalle::ui::VolumeSlider</name>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
</context>
</TS>
