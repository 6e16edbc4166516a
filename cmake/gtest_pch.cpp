// Anchors the precompiled GoogleTest header that every test suite reuses.
