// The information property list carried by the executable, in a section of its own so that
// tools can read it from the file (readelf -p .tarvine_info_plist) without running it.

extern "C" {
__attribute__((used, section(".tarvine_info_plist"))) const char tarvineInfoPlist[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>app.tarvine.native</string>
	<key>CFBundleName</key>
	<string>Tarvine</string>
	<key>NSMicrophoneUsageDescription</key>
	<string>Tarvine transcribes your microphone so it can answer with conversation context.</string>
	<key>NSSpeechRecognitionUsageDescription</key>
	<string>Tarvine transcribes audio on-device to build a live transcript.</string>
	<key>NSScreenCaptureUsageDescription</key>
	<string>Tarvine reads your screen and system audio to answer questions about what you are looking at.</string>
</dict>
</plist>
)";
}
