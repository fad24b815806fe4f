#pragma once
// Questions about the machine's hardware video decoders.
// Any thread. The first call may block briefly (it opens the GPU's render node through VA-API);
// the answer is then remembered for the life of the process.

namespace rillow {

// Whether this machine can decode AV1 in hardware: true only when VA-API (loaded at run time,
// so the application also runs where libva is missing) offers a decoding entry point for an
// AV1 profile on one of the DRM render nodes. Any failure on the way answers false.
bool canDecodeAV1InHardware();

}  // namespace rillow
