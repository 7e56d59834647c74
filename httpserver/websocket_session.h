// The WebSocket side of one server connection: which frame format the handshake chose,
// the frame decoder, the calls to the handler, and the replies the server owes the peer.
//
// The connection object keeps one WsSession from the accepted upgrade until it is
// destroyed, and does the socket work itself:
//   upgrade:  h = BuildWsHandshake(lookup, bytesAfterHeaders); on kAccepted construct the
//             session with h.version, queue h.response for sending, call OnOpened, then
//             OnBytes(h.leftover) (normally empty);
//   receive:  r = OnBytes(bytes); write r.reply; when r.closeConnection, shut the socket
//             down once the reply is written;
//   Send:     write Encode(message) in one call;
//   destroy:  handler->OnClose(connection).
// Network thread only. The handler and connection pointers are not owned.
#pragma once

#include <string>
#include <string_view>

#include "httpserver/websocket.h"
#include "httpserver/websocket_frame.h"

namespace storage {

class WsSession {
 public:
  WsSession(int version, WebSockHandlerI* handler, WebSockConnectionI* connection,
            size_t maxPayload = kWsMaxPayload);

  int version() const { return version_; }

  // Tells the handler that the connection is open.
  void OnOpened();

  struct ReadResult {
    std::string reply;             // bytes to write back (pong, close); may be empty
    bool closeConnection = false;  // shut down after writing `reply`
  };

  // Decodes the received bytes and hands every complete frame to OnMessage, in order;
  // RFC 6455 control frames are delivered too. A ping is answered with a pong carrying its
  // payload, a close frame with a close frame echoing its status code, a frame over the
  // limit with close 1009 and a broken control frame with close 1002; after a close the
  // connection is to be shut down and later bytes are ignored. Hixie-76's closing
  // handshake (0xFF 0x00) is answered in kind.
  ReadResult OnBytes(std::string_view bytes);

  // Bytes the frame not yet complete holds or, once its header is in, will hold.
  size_t Committed() const { return decoder_.committed(); }
  void ReserveFrame() { decoder_.ReserveFrame(); }
  // Ends the session without a closing handshake: the unfinished frame is dropped and
  // later bytes are ignored.
  void Abandon();

  // The wire form of a text message for Send.
  std::string Encode(std::string_view message) const { return EncodeWsMessage(version_, message); }

 private:
  int version_;
  WebSockHandlerI* handler_;
  WebSockConnectionI* connection_;
  WsFrameDecoder decoder_;
  bool closed_ = false;
};

}  // namespace storage
