// The host's socket library as a plug-in sees it: one stream connection per object, whose events
// (connected, data to read, ready to write, closed) reach a sink through the message loop of the
// thread that made the connection. Proxy settings given before Connect are used by it.
#pragma once

#include "host/global_helper.h"

namespace tavi {

// Error codes carried by the events, besides the system's errno values.
constexpr int kXCommErrorHostNotFound = 0x10001; // the name did not resolve
constexpr int kXCommErrorProxy = 0x10002;        // the proxy refused the tunnel or broke its protocol
constexpr int kXCommErrorProxyAuth = 0x10003;    // the proxy refused the user name and password
constexpr int kXCommErrorBadArgument = 0x10004;  // no host, port 0, or an unusable proxy setting
constexpr int kXCommErrorTls = 0x10005;          // TLS could not be set up (handshake, authority file)
constexpr int kXCommErrorCertificate = 0x10006;  // the certificate did not verify for the host

// What a connection tells its owner. Every operation runs on the owning thread, from its message
// loop; error is 0 or one of the codes above.
class IXCommSink {
public:
    // The peer closed the connection (0), or it broke (the error). No more events follow.
    virtual void OnClose(int error) = 0;
    // The connection (through the proxy, when one is set) is ready, or could not be made.
    virtual void OnConnect(int error) = 0;
    // Bytes can be taken with Receive; after the peer has closed, one more event announces the
    // end, which Receive then reports as 0.
    virtual void OnReceive(int error) = 0;
    // Bytes that Send could not write at once have been written (0), or writing failed.
    virtual void OnSend(int error) = 0;
    // The peer sent urgent (out-of-band) data; the byte has been taken and dropped.
    virtual void OnOutOfBandData(int error) = 0;

protected:
    ~IXCommSink() = default;
};

// A connection belongs to the thread that calls Connect: its events are dispatched there, and
// every operation after Connect is called there too.
class IXComm {
public:
    // Connections made after this go through the proxy of the settings. A new object starts
    // with the host's settings (GetProxyCfg).
    virtual void SetProxy(const ProxyCfg& proxy) = 0;
    // Writes all of the bytes, queueing what the socket cannot take at once. Returns length, or -1
    // when the connection is not ready; a failure while writing arrives as OnSend.
    virtual int Send(const char* bytes, int length) = 0;
    // Copies up to length received bytes into buffer. Returns the count, 0 once the peer has
    // closed and everything before has been taken, -1 when nothing is there to take or on error.
    // flags must be 0.
    virtual int Receive(char* buffer, int length, int flags) = 0;
    // Starts connecting to host (a name or a numeric address) and port. Returns 0, and the outcome,
    // failures included, arrives as OnConnect; returns an error code, with no event, only when the
    // object is in use already or was connected from another thread before.
    virtual int Connect(const char* host, unsigned short port) = 0;
    // The closing pair, called together in this order: stop the connection's traffic, then close
    // it. Afterwards no more events arrive. Both are harmless on a connection that is not open.
    virtual void ShutDown() = 0;
    virtual void Close() = 0;
    // Events of this connection go to the sink (null: nowhere).
    virtual void SetSink(IXCommSink* sink) = 0;
    // The releasing pair, called once, after the closing pair: let go of the sink and the owning
    // thread, then free the object.
    virtual void Uninitialize() = 0;
    virtual void Release() = 0;
    // Connections made after this speak TLS (1.2 or newer) when secure is set, inside the proxy's
    // tunnel when one is used. The server's certificate must chain to a trusted authority and name
    // the host given to Connect, which is also sent as the server name; otherwise OnConnect reports
    // kXCommErrorCertificate and nothing the caller wrote leaves. authorityFile names a PEM file
    // of the authorities to trust instead of the system's; null or empty trusts the system's.
    // Send and Receive then carry the plain bytes inside the protected stream.
    virtual void SetSecure(bool secure, const char* authorityFile) = 0;

protected:
    ~IXComm() = default;
};

// A new connection object; the caller owns it and ends it with the releasing pair. Null when the
// host cannot make one.
IXComm* IXComm_Creater();

} // namespace tavi
