// Stands in for Npcap's Packet.dll, which Npcap's wpcap.dll imports and which is installed beside
// it in the Npcap folder, where the default DLL search does not look.
extern "C" __declspec(dllexport) const char* PacketGetVersion() { return "stand-in"; }
