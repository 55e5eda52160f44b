.Composite()
  .Property("Kind").String("printer").End()
.End()
