#pragma once
// libmpg123, which libsndfile decodes MP3 files with, writes its own warnings to the error
// stream, naming no file ("Xing stream size off by more than 1%"). Its decoders are made
// quiet: what matters of a file (where its data stops) the readers say themselves, naming it.

namespace korv {

// Nothing to call: the reader links this in, and with it the quiet decoders.
void keepMpegDecoderQuiet();

} // namespace korv
