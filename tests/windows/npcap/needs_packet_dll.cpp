// Makes the stand-in wpcap.dll import Packet.dll, as Npcap's does, so that it loads only if its
// own folder is searched for its dependencies.
extern "C" __declspec(dllimport) const char* PacketGetVersion();

extern "C" __declspec(dllexport) const char* StandInPacketVersion() { return PacketGetVersion(); }
