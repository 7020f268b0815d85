import tavrin_ovra


def test_version_attribute():
    assert tavrin_ovra.__version__ == "0.1.6"
    assert tavrin_ovra.Ovra.version() == "0.1.6"
