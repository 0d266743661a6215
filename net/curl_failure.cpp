#include "net/curl_failure.h"

namespace vexel::net {

download::FetchFailure FailureOfCurlCode(CURLcode code) {
  using download::FetchFailure;
  switch (code) {
    case CURLE_OK:
      return FetchFailure::None;
    case CURLE_OPERATION_TIMEDOUT:
      return FetchFailure::Timeout;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return FetchFailure::BadAddress;
    case CURLE_FILE_COULDNT_READ_FILE:
    case CURLE_READ_ERROR:
      return FetchFailure::File;
    case CURLE_ABORTED_BY_CALLBACK:
      return FetchFailure::Abandoned;
    case CURLE_FILESIZE_EXCEEDED:
      return FetchFailure::TooLarge;
    default:
      return FetchFailure::Network;
  }
}

}  // namespace vexel::net
