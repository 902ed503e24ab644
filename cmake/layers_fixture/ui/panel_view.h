// A view header: the layer check's fixture.
