#pragma once

// Qt's hash of strings (QHash and QSet keyed by QString or QByteArray, with the seed every QHash has) runs on AES
// instructions that, on CPUs with 256-bit AES, leave the upper halves of the vector registers in use. Every SSE
// instruction the thread runs after it then waits on them, until something clears them: the page readers ran a
// third slower for a page's name put in a QSet once a page. Threads that read pages clear them before each.
namespace VectorState {

// Marks the upper halves of the vector registers unused; nothing on CPUs without AVX.
void clearUpperHalves();

} // namespace VectorState
