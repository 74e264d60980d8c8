// Gives the test support library a source file of its own, so that the precompiled
// GoogleTest header that every suite reuses is always built.
namespace orvex::test {
void PchAnchor() {}
}  // namespace orvex::test
