// The Keep wire types, badge rule and menu rule live here.
