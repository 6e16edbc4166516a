#include "ref_service.h"

namespace vxs {
namespace refservice {

std::string help_text() {
    return R"(Usage: vxs-refservice [options]

A reference recognition service for the speech SDK, for development, tests,
demonstrations and benchmarks on one machine. It serves, over HTTPS:

  POST <base>/up?sn=SN     chunked protocol, upload: type/length/value
                           packets (parameters, audio, real-time data,
                           finish or cancel)
  POST <base>/down?sn=SN   chunked protocol, download: result records
                           (0xF0 partial, 0xF1 final, 0xF3 end)
  POST <base>              single-request protocol: one multipart body per
                           audio package (boundary "--VX**VR++LIB")
  POST /oauth/2.0/token    access tokens (client-credentials grant)

<base> is any path, so the SDK's default URLs ending in "/v2" and
"/echo.fcgi" work when their host is pointed here. Audio may be PCM,
BroadVoice32, AMR-NB or AMR-WB at 8000 or 16000 Hz (8 kHz is resampled to
16 kHz). Speech is recognised by pocketsphinx with its US-English model for
every product id ("pid"/"pdt"): other languages get English words.

Options:
  --listen ADDR:PORT     listen here (repeatable; IPv6 as [::1]:PORT; port 0
                         picks a free port). Default: 127.0.0.1:8443 and
                         [::1]:8443
  --cert FILE --key FILE serve this certificate and private key (PEM)
  --tls-dir DIR          without --cert/--key: make a throw-away CA and a
                         certificate for localhost, 127.0.0.1 and ::1, and
                         write the CA as DIR/ca.pem for clients to trust
  --client-id ID --client-secret SECRET
                         the one client the token endpoint accepts; without
                         them any non-empty id and secret get a token
  --require-token        single requests must carry a token ("tok") issued
                         by this service; others are answered with HTTP 401
  --model DIR            pocketsphinx model folder holding en-us/,
                         en-us.lm.bin and cmudict-en-us.dict
                         (default /usr/share/pocketsphinx/model/en-us)
  --log FILE             append every utterance's events as JSON lines: the
                         parameter document, packet types and sizes, audio
                         format, samples decoded, records and answers sent
                         (with times in ms since the utterance began)
  --fault PLAN           inject faults into every utterance (see below)
  --help                 this text

Fault plans are comma-separated items. Per utterance, a plan can also be
given in a request header "X-Vxs-Fault: PLAN" or as a path segment
"/fault:PLAN" anywhere in the base path (https://HOST:PORT/fault:drop/v2).
  up_status=N       answer the upload with HTTP status N
  down_status=N     answer the download with HTTP status N
  status=N          answer single requests with HTTP status N
  partial_err_no=N  the first partial result carries "err_no" N
  final_err_no=N    the final result carries "err_no" N
  final_delay_ms=N  wait N ms before the final result
  stall_ms=N        send nothing for N ms after the first download record
  no_end            close the download body without the end record
  drop              drop the download connection after its first record
  bad_json          the final result is not valid JSON
  bad_length        the final record announces more bytes than it holds

When ready it prints "listening on https://ADDR:PORT" for each address.
)";
}

}  // namespace refservice
}  // namespace vxs
